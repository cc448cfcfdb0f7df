// The engine library's own unit: the version the front ends print.
namespace bv {
const char* EngineVersion() {
  return "0.1.0";
}
}  // namespace bv
