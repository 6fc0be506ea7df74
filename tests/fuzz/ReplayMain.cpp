// The fuzz targets where libFuzzer is not built in (GCC, MinGW, the sanitizer build): each input
// named on the command line becomes one test that hands it to the target. A crash, a trap or a
// sanitizer report ends the program and fails the run, as it fails libFuzzer's own replay.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

class ReplayInput : public testing::Test {
 public:
  explicit ReplayInput(std::string path) : m_path(std::move(path)) {}
  void TestBody() override {
    std::ifstream in(m_path, std::ios::binary);
    ASSERT_TRUE(in) << m_path << ": cannot be read";
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << m_path;
  }

 private:
  std::string m_path;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [gtest options] INPUT...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string path = argv[i];
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    testing::RegisterTest("Findings", name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                          [path]() -> testing::Test* { return new ReplayInput(path); });
  }
  return RUN_ALL_TESTS();
}
