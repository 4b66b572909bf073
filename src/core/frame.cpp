#include "core/frame.h"

#include <cstdio>

namespace hvc {

void ReportOpenFailure() {
  std::printf("\n8*****************************************Failure in oPenWMI References\n");
}

}  // namespace hvc
