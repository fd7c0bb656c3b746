#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "app/commands.h"
#include "cli_fixture.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "support/smtp_server.h"

namespace pelorix {
namespace {
namespace fs = std::filesystem;

using test::TRun;

class Restore : public test::TCliFixture {
 protected:
  TRun Call(std::vector<std::string> args) {
    args.insert(args.begin(), "restore");
    return Run(args);
  }
  void Set(const std::string& name, const std::string& value) {
    const TRun r = Run({"set", "Smtp", name, value});
    ASSERT_EQ(r.status, 0) << r.err;
  }
};

TEST_F(Restore, MboxHoldsTheChosenCopiesAsAMailProgramReadsThem) {
  const std::string first = "Message-ID: <1@x>\r\nFrom: a@x\r\nSubject: one\r\n\r\nFrom me\r\n";
  const std::string second =
      "Message-ID: <2@x>\r\nFrom: b@y\r\nSubject: two\tparts\r\n\r\n>From x\r\n";
  QuarantineMessage(home_, "<1@x>", first);
  QuarantineMessage(home_, "<2@x>", second);
  TMailRecord record;
  record.AccountKey = "a[pop.x]";
  record.MessageKey = "<1@x>";
  ASSERT_TRUE(WriteRecordFile(DeletedRecordPath(home_, "a2pop.x"), {record}));

  TRun r = Call({"--list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("a[pop.x]\t"), std::string::npos);
  // A tab from the mail cannot split the line's fields.
  EXPECT_NE(r.out.find("\tb@y\ttwo parts\t<2@x>\t"), std::string::npos);

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
  EXPECT_EQ(text.str(), "one 'From me\\n'\none 'From me\\n'\ntwo\tparts '>From x\\n'\n");
}

TEST_F(Restore, NeedsExactlyOneWayAndUsableSmtpSettings) {
  EXPECT_EQ(Call({}).status, 2);
  EXPECT_EQ(Call({"--list", "--mbox", "f"}).status, 2);
  EXPECT_EQ(Call({"--list", "--resend"}).status, 2);
  EXPECT_EQ(Call({"--resend", "--mbox", "f"}).status, 2);

  QuarantineMessage(home_, "<1@x>", "Message-ID: <1@x>\r\n\r\nbody\r\n");
  // Each refusal is one line on stderr.
  auto refused = [this](const char* why) {
    const TRun r = Call({"--resend"});
    EXPECT_EQ(r.status, 1) << why;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << why << ": " << r.err;
    return r.err;
  };
  refused("no SMTP server");
  Set("SmtpServer", "127.0.0.1");
  Set("smtpPort", "1");
  Set("MyEmail", "");
  EXPECT_NE(refused("no own address").find("邮件地址"), std::string::npos);
  Set("MyEmail", "me@example.org");
  refused("nothing listens on port 1");
}

TEST_F(Restore, ResendDeliversEachCopyWithTheFourResentFieldsOnly) {
  if (const auto why = test::TAioSmtpServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TAioSmtpServer server("me", "secret");
  server.Start();
  // Dot lines: sent dot-stuffed, received as they were.
  const std::string first =
      "Message-ID: <1@x>\r\nFrom: a@x\r\nSubject: one\r\n\r\n.\r\n..two\r\n.end\r\n";
  const std::string second = "Message-ID: <2@x>\r\nSubject: two\r\n\r\nline\r\n";
  QuarantineMessage(home_, "<1@x>", first);
  QuarantineMessage(home_, "<2@x>", second);
  Set("SmtpServer", "127.0.0.1");
  Set("smtpPort", std::to_string(server.Port()));
  Set("authType", "1");
  Set("account", "me");
  Set("password", "wrong");
  Set("MyEmail", "me@example.org");

  TRun r = Call({"--resend"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("535"), std::string::npos) << r.err;

  Set("password", "secret");
  r = Call({"--resend"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "sent 2 messages to me@example.org\n");
  auto received = server.Received();
  for (int i = 0; i < 250 && received.size() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    received = server.Received();
  }
  ASSERT_EQ(received.size(), 2u) << server.Log();
  const std::regex resent(
      "Resent-From: me@example\\.org\r\n"
      "Resent-To: me@example\\.org\r\n"
      "Resent-Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{1,2} "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
      "[0-9]{2}:[0-9]{2}:[0-9]{2} [-+][0-9]{4}\r\n"
      "Resent-Message-ID: (<[^<>@ ]+@example\\.org>)\r\n");
  std::vector<std::string> ids;
  std::vector<std::string> originals;
  for (const auto& message : received) {
    EXPECT_EQ(message.MailFrom, "me@example.org");
    EXPECT_EQ(message.RcptTos, std::vector<std::string>{"me@example.org"});
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(message.Content, m, resent, std::regex_constants::match_continuous))
        << message.Content;
    ids.push_back(m[3]);
    originals.push_back(message.Content.substr(static_cast<std::size_t>(m.length(0))));
  }
  // Each copy exactly as kept behind the four fields.
  std::sort(originals.begin(), originals.end());
  EXPECT_EQ(originals, (std::vector<std::string>{first, second}));
  EXPECT_NE(ids[0], ids[1]);
}

}  // namespace
}  // namespace pelorix
