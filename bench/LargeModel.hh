#ifndef KORVAN_BENCH_LARGEMODEL_HH
#define KORVAN_BENCH_LARGEMODEL_HH

// Large korvan-run models in the "vexl-xml" format: resources of every kind
// (Reservoir, Reusable, Unary and the instant-based Resource), tokens over
// flexible windows and a few precedences. The limits are loose and the
// windows wide enough that the model propagates without a violation, so a
// read-and-propagate run does all of its work.

#include <cstdint>
#include <sstream>
#include <string>

namespace KORVAN {
namespace BENCH {

// A small deterministic generator, so every run and every reader of the
// model sees the same document for a seed.
class ModelRandom {
public:
  explicit ModelRandom(std::uint64_t seed) : m_state(seed * 2862933555777941757ULL + 3037000493ULL) {}
  unsigned int below(unsigned int n) {
    m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned int>((m_state >> 33) % n);
  }

private:
  std::uint64_t m_state;
};

// How the tokens of a model are spread: `resourcesPerKind` resources of each
// of the four kinds, `tokens / 4` tokens per kind.
inline unsigned int largeModelResourcesPerKind(unsigned int tokens) {
  return tokens < 4000 ? 1 : tokens / 2000;
}

// The model with `tokens` tokens (a multiple of 4 is used exactly).
inline std::string makeLargeModel(unsigned int tokens, std::uint64_t seed = 1) {
  ModelRandom rng(seed);
  const unsigned int perKind = largeModelResourcesPerKind(tokens);
  const unsigned int perResource = tokens / 4 / perKind;
  static const char* const kinds[] = {"Reservoir", "Reusable", "Unary", "Resource"};
  std::ostringstream os;
  os << "<vexl>\n";
  for (unsigned int r = 0; r < perKind; ++r) {
    os << "  <new type=\"Reservoir\" name=\"Reservoir" << r << "\">"
       << "<float value=\"0\"/><float value=\"-10000000\"/><float value=\"10000000\"/></new>\n";
    os << "  <new type=\"Reusable\" name=\"Reusable" << r << "\">"
       << "<float value=\"10\"/><float value=\"0\"/></new>\n";
    os << "  <new type=\"Unary\" name=\"Unary" << r << "\"/>\n";
    os << "  <new type=\"Resource\" name=\"Resource" << r << "\">"
       << "<float value=\"0\"/><float value=\"-10000000\"/><float value=\"10000000\"/></new>\n";
  }
  os << "  <close/>\n";
  for (unsigned int k = 0; k < 4; ++k) {
    for (unsigned int r = 0; r < perKind; ++r) {
      const std::string object = std::string(kinds[k]) + std::to_string(r);
      const std::string prefix = std::string(1, "svur"[k]) + std::to_string(r) + "_";
      for (unsigned int i = 0; i < perResource; ++i) {
        // Windows start about 20 apart and are 100 to 300 wide, so each
        // token's window meets those of a dozen or so neighbours.
        const unsigned int lb = 20 * i + rng.below(20);
        const unsigned int ub = lb + 100 + rng.below(200);
        const unsigned int duration = 1 + rng.below(10);
        const std::string name = prefix + std::to_string(i);
        const std::string window = "\"" + std::to_string(lb) + " " + std::to_string(ub) + "\"";
        switch (k) {
        case 0:
          os << "  <goal predicate=\"Reservoir." << (rng.below(2) == 0 ? "consume" : "produce")
             << "\" name=\"" << name << "\" object=\"" << object << "\" time=" << window
             << " quantity=\"" << 1 + rng.below(10) << "\"/>\n";
          break;
        case 1:
          os << "  <goal predicate=\"Reusable.uses\" name=\"" << name << "\" object=\"" << object
             << "\" start=" << window << " duration=\"" << duration << "\" quantity=\""
             << 1 + rng.below(3) << "\"/>\n";
          break;
        case 2:
          os << "  <goal predicate=\"Unary.use\" name=\"" << name << "\" object=\"" << object
             << "\" start=" << window << " duration=\"" << duration << "\"/>\n";
          break;
        default:
          os << "  <goal predicate=\"Resource.change\" name=\"" << name << "\" object=\"" << object
             << "\" time=" << window << " quantity=\"" << (rng.below(2) == 0 ? "-" : "")
             << 1 + rng.below(10) << "\"/>\n";
          break;
        }
      }
      // Sparse precedences, never chained, so no window is pushed past its end.
      const bool events = k == 0 || k == 3;
      for (unsigned int i = 0; i + 2 < perResource; i += 10) {
        const std::string from = prefix + std::to_string(i) + (events ? ".time" : ".end");
        const std::string to = prefix + std::to_string(i + 2) + (events ? ".time" : ".start");
        os << "  <constraint name=\"precedes\" scope=\"" << from << " " << to << "\"/>\n";
      }
    }
  }
  os << "</vexl>\n";
  return os.str();
}

} // namespace BENCH
} // namespace KORVAN

#endif
