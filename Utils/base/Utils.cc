#include "Utils/base/Utils.hh"

#include <iomanip>
#include <sstream>

namespace KORVAN {

std::string toString(double value) {
  std::ostringstream os;
  os << std::setprecision(15) << value;
  return os.str();
}

bool isDecimalNumeral(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  auto digits = [&]() {
    const size_t from = i;
    while (i < n && text[i] >= '0' && text[i] <= '9')
      i++;
    return i > from;
  };
  if (i < n && (text[i] == '+' || text[i] == '-'))
    i++;
  bool whole = digits();
  bool fraction = false;
  if (i < n && text[i] == '.') {
    i++;
    fraction = digits();
  }
  if (!whole && !fraction)
    return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    i++;
    if (i < n && (text[i] == '+' || text[i] == '-'))
      i++;
    if (!digits())
      return false;
  }
  return i == n;
}

} // namespace KORVAN
