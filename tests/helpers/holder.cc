// Holds a file open the way a Windows program that is still writing its log
// does: without delete sharing, so that nobody can delete it meanwhile.
//
// Usage: holder FILE READY RELEASE [CHANGE]
// Opens FILE, creates READY to say so, waits for RELEASE to appear, closes
// FILE, and then, when CHANGE is given, creates it: a change in the tree.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>

namespace {

bool Create(const char* path) {
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool Exists(const char* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fputs("usage: holder FILE READY RELEASE [CHANGE]\n", stderr);
    return 2;
  }
  const HANDLE held =
      CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "holder: cannot open %s\n", argv[1]);
    return 1;
  }
  if (!Create(argv[2])) {
    std::fprintf(stderr, "holder: cannot create %s\n", argv[2]);
    return 1;
  }
  // A test helper may poll; a bound keeps a broken test from hanging.
  for (int i = 0; !Exists(argv[3]); ++i) {
    if (i == 6000) {
      std::fputs("holder: never released\n", stderr);
      return 1;
    }
    Sleep(10);
  }
  CloseHandle(held);
  if (argc == 5 && !Create(argv[4])) {
    std::fprintf(stderr, "holder: cannot create %s\n", argv[4]);
    return 1;
  }
  return 0;
}
