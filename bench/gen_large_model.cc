// Writes a large korvan-run model to standard output:
//   gen_large_model TOKENS [SEED] > model.xml
#include <cstdlib>
#include <iostream>

#include "bench/LargeModel.hh"

int main(int argc, char** argv) {
  if (argc < 2 || std::atoi(argv[1]) <= 0) {
    std::cerr << "usage: gen_large_model TOKENS [SEED]" << std::endl;
    return 2;
  }
  unsigned int tokens = static_cast<unsigned int>(std::atoi(argv[1]));
  unsigned long long seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  std::cout << KORVAN::BENCH::makeLargeModel(tokens, seed);
  return 0;
}
