#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/start_up.h"
#include "base/system.h"
#include "base/text_util.h"
#include "fsutil/env.h"
#include "version.h"

namespace dravelkent {
namespace {

// Returns "" when |bytes| is a whole shared object for this machine that
// carries this program's version (one cut short would load, then crash),
// else what it is not.
std::string Refusal(const std::string& bytes) {
  ElfW(Ehdr) elf;
  if (bytes.size() < sizeof elf || bytes.compare(0, SELFMAG, ELFMAG) != 0) {
    return "it is no shared object";
  }
  std::memcpy(&elf, bytes.data(), sizeof elf);
  auto within = [&](ElfW(Off) offset, size_t count, size_t size) {
    return offset <= bytes.size() && count <= (bytes.size() - offset) / size;
  };
  if (elf.e_ident[EI_CLASS] !=
          (__ELF_NATIVE_CLASS == 64 ? ELFCLASS64 : ELFCLASS32) ||
      elf.e_ident[EI_DATA] !=
          (__BYTE_ORDER == __LITTLE_ENDIAN ? ELFDATA2LSB : ELFDATA2MSB) ||
      elf.e_type != ET_DYN || elf.e_phentsize != sizeof(ElfW(Phdr)) ||
      elf.e_shentsize != sizeof(ElfW(Shdr))) {
    return "it is no shared object for this machine";
  }
  bool whole = within(elf.e_phoff, elf.e_phnum, sizeof(ElfW(Phdr))) &&
               within(elf.e_shoff, elf.e_shnum, sizeof(ElfW(Shdr)));
  for (size_t i = 0; whole && i < elf.e_phnum; ++i) {
    ElfW(Phdr) segment;
    std::memcpy(&segment, bytes.data() + elf.e_phoff + i * sizeof segment,
                sizeof segment);
    whole = segment.p_type != PT_LOAD ||
            within(segment.p_offset, segment.p_filesz, 1);
  }
  if (!whole) return "it is cut short";
  std::string version = kGuiModuleMark;
  version.append(DRAVELKENT_VERSION).push_back('\0');
  if (bytes.find(version) == std::string::npos) {
    return "it is not of version " DRAVELKENT_VERSION;
  }
  return "";
}

}  // namespace

// The first good module beside the program, then in ../lib/dravelkent/.
DravelkentGuiMainFunction LoadWindowModule() {
  const std::string folder = ProgramFolder();
  if (folder.empty() ||
      !HasDisplay(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
    return nullptr;
  }
  for (const std::string& path :
       {folder + kGuiModuleFileName,
        folder + "../lib/dravelkent/" + kGuiModuleFileName}) {
    WholeFile file;
    const Status read = Env::Default()->ReadWholeFile(path, &file);
    if (read.ok() && file.info.kind == FileKind::kMissing) continue;
    const std::string refusal = read.ok() ? Refusal(file.bytes) : read.reason();
    if (!refusal.empty()) {
      std::fprintf(stderr,
                   "dravelkent: the window module %s is not loaded: %s\n",
                   EscapeForLine(path).c_str(), refusal.c_str());
      continue;
    }
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      std::fprintf(stderr, "dravelkent: %s\n",
                   EscapeForLine(dlerror()).c_str());
      continue;
    }
    if (void* entry = dlsym(module, kGuiEntryPointName)) {
      return reinterpret_cast<DravelkentGuiMainFunction>(entry);
    }
    dlclose(module);
  }
  return nullptr;
}

}  // namespace dravelkent
