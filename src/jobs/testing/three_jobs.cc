#include "jobs/testing/three_jobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fsutil/temp_names.h"
#include "jobs/job_engine.h"
#include "settings/settings_store.h"

namespace dravelkent::testing {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kSourceTime = 1760000000123456789;
constexpr int64_t kOldTime = 1600000000000000001;

std::string Settings(const ThreeJobs& jobs, const std::string& backup,
                     const std::string& timestamp) {
  std::string text = "[基本]\nVIEW=Off\nMESSAGE=Off\nBACKUP=" + backup +
                     "\nTIMESTAMP=" + timestamp + "\n[設定]\n";
  const struct {
    const char* number;
    const char* name;
    const char* kind;
    const char* days;
  } jobs_keys[] = {{"01", "app", "log", "7"},
                   {"02", "*", "*", "7"},
                   {"03", "app", "log", "0"}};
  for (const auto& job : jobs_keys) {
    std::string n = job.number;
    std::string digit(1, n[1]);
    text += n + "DIRNAMEFROM=" + jobs.Path("src" + digit) + "\n" + n +
            "DIRNAMETO=" + jobs.Path("dst" + digit) + "\n" + n +
            "FILENAME=" + job.name + "\n" + n + "KIND=" + job.kind + "\n" +
            n + "DELETEDAY=" + job.days + "\n";
  }
  return text;
}

}  // namespace

ThreeJobs::ThreeJobs(const std::string& backup) : backup_(backup) {
  for (const char* folder : {"src1", "dst1", "src2", "src2/sub",
                             "src2/sub/deeper", "src3"}) {
    mkdir(Path(folder).c_str(), 0755);
  }
  WriteFile(Path("src1/app.log"), "one", 0644, kSourceTime);
  WriteFile(Path("dst1/20261120app.log"), "expired", 0644, kOldTime);
  WriteFile(Path("dst1/20261203app.log"), "kept", 0644, kOldTime);
  WriteFile(Path("src2/a.txt"), "a", 0644, kSourceTime + 1);
  symlink("a.txt", Path("src2/link").c_str());
  SetMtime(Path("src2/link"), kSourceTime + 2);
  WriteFile(Path("src2/sub/b.txt"), "b", 0644, kSourceTime + 3);
  WriteFile(Path("src2/sub/deeper/c.txt"), "c", 0644, kSourceTime + 4);
  WriteFile(Path("src3/app.log"), "three", 0644, kSourceTime + 5);
  WriteFile(settings_path(), Settings(*this, backup_, "20261205"));
}

void ThreeJobs::RunAllJobs(DiskInterface* disk, Host* host,
                           FailureLog* failures) const {
  SettingsStore settings(settings_path());
  FixedClock clock(Today());
  EngineEnv env;
  env.settings = &settings;
  env.disk = disk;
  env.clock = &clock;
  env.host = host;
  env.failures = failures;
  env.current_directory = root();
  JobEngine engine(env);
  engine.RunAllJobs();
}

void ThreeJobs::MakeDueAgain() const {
  WriteFile(settings_path(), Settings(*this, backup_, "20261205"));
}

TreeState ThreeJobs::State() const {
  TreeState state;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root(), error);
       !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::string path = it->path().string();
    std::string relative = path.substr(root().size() + 1);
    if (relative == "Dravelkent.ini") continue;
    EntryState entry;
    entry.mtime_ns = MtimeOf(path);
    if (it->is_symlink()) {
      entry.type = 'l';
      entry.content = fs::read_symlink(it->path(), error).string();
    } else if (it->is_directory()) {
      entry.type = 'd';
      entry.mtime_ns = 0;  // changes with every entry made or moved
    } else {
      entry.content = ReadFile(path);
    }
    state[relative] = entry;
  }
  return state;
}

std::string TemporaryFilesIn(const TreeState& state) {
  std::string found;
  for (const auto& [path, entry] : state) {
    std::string name = fs::path(path).filename().string();
    if (IsOwnTemporaryName(name)) found += path + " ";
  }
  return found;
}

}  // namespace dravelkent::testing
