#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "jobs/job_engine.h"
#include "jobs/testing/job_test_env.h"
#include "fsutil/testing/temp_folder.h"
#include "settings/settings_store.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

// Whole runs on 8 December 2026 of one job over src/ and dst/, which holds
// an expired copy (20261130app.log) and one that is kept (20261201app.log).
TEST(FileWorkTest, RotationThenExpiryThenTheCompletionText) {
  struct Case {
    const char* what;
    const char* basic;    // lines of [基本]
    const char* job;      // lines of [設定] besides the folders
    const char* in_dst;   // one more file in dst/, or ""
    std::vector<std::string> statuses;  // "$S" src/, "$D" dst/
    std::vector<std::string> messages;
    int failures;
    std::vector<std::string> dst_after;
  } cases[] = {
      {"move", "TIMESTAMP=20261207\n", "01FILENAME=app\n01DELETEDAY=7\n", "",
       {"app.log を移動中", "$D20261130app.log 削除中", "全ての処理が終了しました"},
       {}, 0, {"20261201app.log", "20261207app.log"}},
      {"second run", "TIMESTAMP=20261208\n", "01FILENAME=app\n01DELETEDAY=7\n",
       "", {"全ての処理が終了しました"}, {}, 0,
       {"20261130app.log", "20261201app.log"}},
      {"move fails", "TIMESTAMP=20261207\nMESSAGE=On\n",
       "01FILENAME=app\n01DELETEDAY=7\n", "20261207app.log",
       {"$Sapp.logの処理に失敗しました", "$D20261130app.log 削除中",
        "全ての処理が終了しました"},
       {"$Sapp.logの処理に失敗しました", "完了しました。"}, 1,
       {"20261201app.log", "20261207app.log"}},
      {"copy, no retention", "TIMESTAMP=20261207\nBACKUP=On\n",
       "01FILENAME=app\n01DELETEDAY=0\n", "",
       {"app.log をコピー中", "全ての処理が終了しました"}, {}, 0,
       {"20261130app.log", "20261201app.log", "20261208app.log"}},
      // Every dated copy goes but the one just made.
      {"forced, delete all", "TIMESTAMP=00000000\nBACKUP=On\n",
       "01FILENAME=app\n01DELETEDAY=0\n[裏設定]\n01DELETEALL=On\n", "",
       {"app.log をコピー中", "$D20261130app.log 削除中",
        "$D20261201app.log 削除中", "全ての処理が終了しました"},
       {}, 0, {"20261208app.log"}},
      // A run long after the last one moves the file to a name that has
      // expired already; the only copy of the file stays.
      {"late run", "TIMESTAMP=20261101\n", "01FILENAME=app\n01DELETEDAY=7\n",
       "", {"app.log を移動中", "$D20261130app.log 削除中", "全ての処理が終了しました"},
       {}, 0, {"20261101app.log", "20261201app.log"}},
      // The tree transfer dates names with today and shows bare names.
      {"wildcard", "TIMESTAMP=20261207\n", "01FILENAME=*\n01DELETEDAY=7\n", "",
       {"app.log を移動中", "$D20261130app.log 削除中", "全ての処理が終了しました"},
       {}, 0, {"20261201app.log", "20261208app.log"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempFolder temp;
    const std::string src = (temp / "src/");
    const std::string dst = (temp / "dst/");
    fs::create_directory(src);
    fs::create_directory(dst);
    testing::WriteFile(src + "app.log", "data");
    for (const char* name : {"20261130app.log", "20261201app.log", c.in_dst}) {
      if (*name) testing::WriteFile(dst + name, name);
    }
    SettingsStore settings((temp / "Dravelkent.ini"));
    testing::WriteFile(
        settings.path(), std::string("[基本]\n") + c.basic + "[設定]\n" +
                             "01DIRNAMEFROM=" + src + "\n01DIRNAMETO=" + dst +
                             "\n01KIND=log\n" + c.job);
    FixedClock clock({2026, 12, 8});
    testing::JobTestEnv t;
    t.env.settings = &settings;
    t.env.clock = &clock;
    JobEngine engine(t.env);
    engine.RunAllJobs();

    auto expand = [&](std::vector<std::string> texts) {
      for (std::string& text : texts) {
        for (auto [mark, path] : {std::pair{"$S", src}, std::pair{"$D", dst}}) {
          size_t at = text.find(mark);
          if (at != std::string::npos) text.replace(at, 2, path);
        }
      }
      return texts;
    };
    // The deletions come in the folder's order, between the rotation's
    // text and the completion text.
    std::vector<std::string> shown = t.host.statuses;
    std::vector<std::string> expected = expand(c.statuses);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), expected.front());
    EXPECT_EQ(shown.back(), expected.back());
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(t.host.messages, expand(c.messages));
    EXPECT_EQ(t.failures.count(), c.failures);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dst)) {
      left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, c.dst_after);
  }
}

// A forced undated tree move with DELETEALL: the files it just moved keep
// their names, some of which read as dated copies; none of them is deleted.
TEST(FileWorkTest, DeleteAllNeverTakesWhatTheTreeTransferJustWrote) {
  for (const char* days : {"0", "7"}) {
    SCOPED_TRACE(days);
    testing::TempFolder temp;
    const std::string src = (temp / "src/");
    const std::string dst = (temp / "dst/");
    fs::create_directory(src);
    fs::create_directory(dst);
    testing::WriteFile(src + "20261205app.log", "only copy");
    testing::WriteFile(dst + "20261130app.log", "old");
    SettingsStore settings((temp / "Dravelkent.ini"));
    testing::WriteFile(
        settings.path(),
        "[基本]\nTIMESTAMP=00000000\n[設定]\n01DIRNAMEFROM=" + src +
            "\n01DIRNAMETO=" + dst + "\n01FILENAME=*\n01KIND=log\n" +
            "01DELETEDAY=" + days + "\n[裏設定]\n01DELETEALL=On\n");
    FixedClock clock({2026, 12, 8});
    testing::JobTestEnv t;
    t.env.settings = &settings;
    t.env.clock = &clock;
    JobEngine engine(t.env);
    engine.RunAllJobs();
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dst)) {
      left.push_back(entry.path().filename().string());
    }
    std::string moved = std::string(days) == "0" ? "20261205app.log"
                                                 : "2026120820261205app.log";
    EXPECT_EQ(left, std::vector<std::string>{moved});
    EXPECT_EQ(testing::ReadFile(dst + moved), "only copy");
  }
}

}  // namespace
}  // namespace dravelkent
