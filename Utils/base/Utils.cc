#include "Utils/base/Utils.hh"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <cstring>
#include <new>
#include <sstream>

namespace KORVAN {

std::string toString(double value) {
  std::ostringstream os;
  os << std::setprecision(15) << value;
  return os.str();
}

namespace {
struct ReserveState {
  char* block = nullptr;
  std::new_handler previous = nullptr;
  bool armed = false;
  unsigned long failures = 0;
  unsigned int noRaise = 0;
};
ReserveState& reserveState() {
  static ReserveState sl_state;
  return sl_state;
}
void onAllocationFailure() {
  ReserveState& state = reserveState();
  state.failures++;
  char* block = state.block;
  state.block = nullptr;
  // Freed before the raise: the handlers on the way out have memory again.
  delete[] block;
  // Where nothing may be raised, the allocation is tried again in what the reserve gave back.
  if (block != nullptr && state.noRaise > 0)
    return;
  throw std::bad_alloc();
}
} // namespace

void MemoryReserve::arm(size_t bytes) {
  ReserveState& state = reserveState();
  if (!state.armed) {
    state.previous = std::set_new_handler(onAllocationFailure);
    state.armed = true;
  }
  if (state.block == nullptr) {
    state.block = new char[bytes];
    // Touched, so that the reserve is memory the system has given, not only promised.
    std::memset(state.block, 0, bytes);
  }
}

void MemoryReserve::disarm() {
  ReserveState& state = reserveState();
  delete[] state.block;
  state.block = nullptr;
  if (state.armed)
    std::set_new_handler(state.previous);
  state.armed = false;
}

unsigned long MemoryReserve::failures() { return reserveState().failures; }

MemoryReserve::NoRaise::NoRaise() { reserveState().noRaise++; }

MemoryReserve::NoRaise::~NoRaise() { reserveState().noRaise--; }

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

bool decimalValue(const std::string& text, double& value) {
  if (!isDecimalNumeral(text))
    return false;
  errno = 0;
  value = std::strtod(text.c_str(), nullptr);
  // The C library says a subnormal value is out of range too: it is one only when it reads as 0
  // while a digit of the numeral is not.
  const size_t exponent = text.find_first_of("eE");
  const bool zero = text.find_first_of("123456789") >= exponent;
  return std::isfinite(value) && (errno == 0 || value != 0 || zero);
}

} // namespace KORVAN
