// Every test keeps the undo journals of its repairs in a folder of its own,
// under the one ctest names (TESSALY_UNDO_DIR): tests run side by side
// (ctest -j2) must never meet in one folder, where a journal of one could be
// taken for the other's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class JournalFolderPerTest : public testing::EmptyTestEventListener {
 public:
  JournalFolderPerTest() {
    const char* base = std::getenv("TESSALY_UNDO_DIR");
    base_ = base != nullptr && *base != '\0' ? base : testing::TempDir() + "tessaly-unit-undo";
  }

  void OnTestStart(const testing::TestInfo& test) override {
    std::string name = std::string(test.test_suite_name()) + "." + test.name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    setenv("TESSALY_UNDO_DIR", (base_ + "/" + name).c_str(), 1);
  }

 private:
  std::string base_;
};

const bool registered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new JournalFolderPerTest);
  return true;
}();

}  // namespace
