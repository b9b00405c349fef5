#pragma once

#include <string>

namespace dravelkent {

// What the job engine asks of the front end that hosts it: the dialog on a
// desktop, the console elsewhere.
class Host {
 public:
  virtual ~Host() = default;

  // Replaces the whole status line with |text| and shows it at once, even
  // though the run keeps the front end busy.
  virtual void ShowStatus(const std::string& text) = 0;

  // Shows |text| to the user with the caption "確認" and one OK button and
  // returns once the user has acknowledged it.
  virtual void ShowMessage(const std::string& text) = 0;

  // Ends the run: the front end closes and the program exits.
  virtual void EndRun() = 0;
};

}  // namespace dravelkent
