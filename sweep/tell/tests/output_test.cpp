#include "tell/output.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

class Output : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "/output.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  [[nodiscard]] std::size_t entries() const {
    std::size_t count = 0;
    DIR *directory = opendir(dir_.c_str());
    while (const auto *entry = readdir(directory)) {
      count += entry->d_name[0] == '.' &&
                       (entry->d_name[1] == '\0' || entry->d_name[1] == '.')
                   ? 0
                   : 1;
    }
    closedir(directory);
    return count;
  }
  std::string dir_;
};

TEST_F(Output, WrittenWholeInItsPlace) {
  const std::string path = dir_ + "/sweep.json";
  {
    std::ofstream(path) << "the last sweep's";
    sweep::OutputFile file(path);
    // Until the end, the old report stays whole.
    std::ifstream before(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(before), {}),
              "the last sweep's");
    file.commit("{}\n");
  }
  std::ifstream after(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), "{}\n");
  EXPECT_EQ(entries(), 1U);
}

TEST_F(Output, ANeverCommittedFileLeavesNothing) {
  { sweep::OutputFile file(dir_ + "/sweep.xml"); }
  EXPECT_EQ(entries(), 0U);
}

TEST_F(Output, RefusedBeforeTheSweep) {
  EXPECT_THROW(sweep::OutputFile{dir_ + "/no/such/dir/file"},
               sweep::OutputError);
  EXPECT_THROW(sweep::OutputFile{dir_}, sweep::OutputError); // a directory
  if (geteuid() != 0) {
    chmod(dir_.c_str(), 0500);
    EXPECT_THROW(sweep::OutputFile{dir_ + "/file"}, sweep::OutputError);
    chmod(dir_.c_str(), 0700);
  }
}

TEST_F(Output, MadeAsAnOrdinaryFileIs) {
  const mode_t mask = umask(027);
  {
    sweep::OutputFile file(dir_ + "/f");
    file.commit("x");
  }
  umask(mask);
  struct stat info {};
  ASSERT_EQ(stat((dir_ + "/f").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640U);
}

} // namespace
