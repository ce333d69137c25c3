#include "Utils/base/Utils.hh"

#include <iomanip>
#include <sstream>

namespace KORVAN {

std::string toString(double value) {
  std::ostringstream os;
  os << std::setprecision(15) << value;
  return os.str();
}

} // namespace KORVAN
