#pragma once
// The benchmarks' mailbox and home: 10,000-message-like mail with headers
// as real mail has them, and a home whose one account is the bench server,
// with filter lists, the brief on and the delivered IP table in force.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/accounts.h"
#include "store/filter_lists.h"
#include "store/ip_table.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"

namespace pelorix {

// About 2.4 KB like ordinary mail: two or three Received lines, an encoded
// subject and sender, the usual header lines and a short text body.
inline std::string BenchMessage(int i) {
  const std::string n = std::to_string(i);
  const std::string ip = "61.135." + std::to_string(i % 250) + "." + std::to_string(i % 200 + 1);
  std::string text =
      "Return-Path: <sender" + n + "@example.org>\n" +
      (i % 3 == 0 ? "Received: from pop.example.org (pop.example.org [10.0.0.5])\n\tby "
                    "store.example.org with LMTP id " +
                        n + "; Tue, 08 Dec 2026 10:00:02 +0800\n"
                  : "") +
      "Received: from relay.example.net ([202.96." + std::to_string(i % 60) +
      ".7])\n\tby pop.example.org (Postfix) with ESMTPS id A" + n +
      "\n\tfor <bob@example.org>; Tue, 08 Dec 2026 10:00:01 +0800 (CST)\n"
      "Received: from mx" +
      n + ".example.org ([" + ip + "])\n\tby relay.example.net with ESMTP id " + n +
      "\n\tfor <bob@example.org>; Tue, 08 Dec 2026 10:00:00 +0800\n"
      "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.org; s=mail;\n"
      "\tbh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;\n"
      "\tb=dzdVyOfAKCdLXdJOc9G2q8LoXSlEniSbav+yuU4zGeeruD00lszZVoG4ZHRNiYzR\n"
      "From: =?GB2312?B?1cXI/Q==?= <sender" +
      n +
      "@example.org>\n"
      "To: bob@example.org\n"
      "Subject: =?GB2312?B?suLK1NPKvP4=?= " +
      (i % 10 == 0 ? "SALE now " : "report ") + n +
      "\n"
      "Message-ID: <" +
      n +
      ".bench@example.org>\n"
      "Date: Tue, 08 Dec 2026 10:00:00 +0800\n"
      "MIME-Version: 1.0\n"
      "Content-Type: text/plain; charset=gb2312\n"
      "Content-Transfer-Encoding: 8bit\n"
      "X-Priority: 3\n"
      "X-Mailer: Bench Mailer 1.0\n"
      "List-Unsubscribe: <mailto:unsubscribe-" +
      n + "@example.org>\n\n";
  for (int line = 0; line < 16; ++line) {
    text += "Line " + std::to_string(line) + " of message " + n +
            ", some ordinary text to give the body its usual size.\n";
  }
  return text;
}

inline void SetUpBenchHome(TSettingsStore& store, const std::filesystem::path& home,
                           const std::string& server) {
  SaveAccounts(store, {{server, "bob", "pw", ""}});
  TFilterLists lists;
  lists.Sender = {"spam.example", "promo@", "noreply@ads"};
  lists.Subject = {"SALE", "viagra", "lottery"};
  lists.Length = {">=1000000"};
  SaveFilterLists(store, lists);
  TMailPlan plan;
  plan.Load(store);
  plan.CheckSummary = true;
  plan.Save(store);
  // The table users have: the one delivered with the program (about a
  // million ranges, too big to keep in memory). Without it, one of 4096
  // ranges, so each hop still costs a real binary search.
  if (!DeliveredIpTableFile().empty())
    return;
  std::vector<TIpRecord> rows;
  for (int a = 1; a <= 255; ++a) {
    for (int b = 0; b < 256; b += 16) {
      char start[16], end[16];
      std::snprintf(start, sizeof start, "%03d.%03d.000.000", a, b);
      std::snprintf(end, sizeof end, "%03d.%03d.255.255", a, b + 15);
      rows.push_back({start, end, "区域" + std::to_string(a), "地点" + std::to_string(b)});
    }
  }
  std::filesystem::create_directories(home / "modal");
  ExportIpTable(home / "modal" / "ip.dat", rows);
}

// The bench's folders (mailbox, homes) go below a folder that ext4 treats as
// a top-level one, so each lands in a block group of its own. Without a
// journal, ext4 avoids reusing inodes freed in the last minutes by scanning
// past every one of them; the files a previous bench run deleted on leaving
// would otherwise slow the next run's fresh home by seconds, which is not
// what a user's first check meets.
inline void SpreadBenchFolders() {
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / "pelorix-bench-spread";
  std::error_code ec;
  std::filesystem::create_directories(base, ec);
  const int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return;
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
    flags |= FS_TOPDIR_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
  }
  ::close(fd);
  ::setenv("TMPDIR", base.c_str(), 1);
}

}  // namespace pelorix
