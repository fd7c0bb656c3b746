#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/commands.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"

namespace pelorix {
namespace {
namespace fs = std::filesystem;

struct TCall {
  int status;
  std::string out, err;
};

class Restore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pelorix-restore-XXXXXX").string();
    home_ = mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(home_); }
  TCall Call(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home_.string(), "restore"});
    std::ostringstream out, err;
    const int status = RunCommandLine(args, out, err);
    return {status, out.str(), err.str()};
  }
  fs::path home_;
};

TEST_F(Restore, MboxHoldsTheChosenCopiesAsAMailProgramReadsThem) {
  const std::string first = "Message-ID: <1@x>\r\nFrom: a@x\r\nSubject: one\r\n\r\nFrom me\r\n";
  const std::string second = "Message-ID: <2@x>\r\nFrom: b@y\r\nSubject: two\r\n\r\n>From x\r\n";
  QuarantineMessage(home_, "<1@x>", first);
  QuarantineMessage(home_, "<2@x>", second);
  TMailRecord record;
  record.AccountKey = "a[pop.x]";
  record.MessageKey = "<1@x>";
  ASSERT_TRUE(WriteRecordFile(DeletedRecordPath(home_, "a2pop.x"), {record}));

  TCall r = Call({"--list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("a[pop.x]\t"), std::string::npos);
  EXPECT_NE(r.out.find("\tb@y\ttwo\t<2@x>\t"), std::string::npos);

  const fs::path mbox = home_ / "back.mbox";
  r = Call({"--mbox", mbox.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Call({"--account", "a[pop.x]", "--mbox", mbox.string()}).status, 0);
  EXPECT_EQ(Call({"--mbox", mbox.string(), "<9@x>"}).status, 1);

  // Python's mailbox module, as a mail program would import it.
  const fs::path script = home_ / "read.py";
  // The mboxrd reading rule: one ">" less on every ">...From " line.
  std::ofstream(script) << "import mailbox, re, sys\n"
                           "out = []\n"
                           "for m in mailbox.mbox(sys.argv[1]):\n"
                           "    body = re.sub(r'(?m)^>(>*From )', r'\\1', m.get_payload())\n"
                           "    out.append(m['Subject'] + ' ' + repr(body))\n"
                           "print('\\n'.join(sorted(out)))\n";
  const fs::path result = home_ / "read.txt";
  const std::string command =
      "python3 " + script.string() + " " + mbox.string() + " > " + result.string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(result);
  std::stringstream text;
  text << in.rdbuf();
  // Three messages, the first chosen twice, bodies as they were kept.
  EXPECT_EQ(text.str(), "one 'From me\\n'\none 'From me\\n'\ntwo '>From x\\n'\n");
}

TEST_F(Restore, NeedsExactlyOneWay) {
  EXPECT_EQ(Call({}).status, 2);
  EXPECT_EQ(Call({"--list", "--mbox", "f"}).status, 2);
}

}  // namespace
}  // namespace pelorix
