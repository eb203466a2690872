#include "convert/options.h"

namespace lowtags {

OptionSet Options;

}  // namespace lowtags
