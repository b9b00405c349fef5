#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "base/system.h"

namespace dravelkent {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

Status EnterFolder(const std::string& folder) {
  if (chdir(folder.c_str()) != 0) {
    return Status::FromErrno("cannot enter the folder", folder, errno);
  }
  return Status::Ok();
}

Status CurrentFolder(std::string* folder) {
  char* current = getcwd(nullptr, 0);
  if (current == nullptr) {
    return Status::FromErrno("cannot tell the current folder", "", errno);
  }
  *folder = current;
  std::free(current);
  return Status::Ok();
}

std::string ProgramFolder() {
  std::error_code error;
  const std::string program =
      std::filesystem::read_symlink("/proc/self/exe", error);
  const size_t slash = program.rfind('/');
  return slash == std::string::npos ? "" : program.substr(0, slash + 1);
}

}  // namespace dravelkent
