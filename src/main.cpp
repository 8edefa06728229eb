// Velloran: multi-channel broadcast logging recorder.
#include <cstdio>

#include "core/Version.h"

int main() {
  std::printf("Velloran %d.%d.%d Build %d\n", VELLORAN_VERSION_MAJOR, VELLORAN_VERSION_MINOR,
              VELLORAN_VERSION_RELEASE, VELLORAN_VERSION_BUILD);
  return 0;
}
