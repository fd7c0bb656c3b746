#pragma once
// What must hold after any run that was cut short, whatever broke: every
// message of the mailbox is still on the server or has a byte-exact copy in
// tmp/deleted/; no message that was not ticked is gone; registry.db,
// tmp/all.rec and the record files read back whole (a record file may lack
// its last record, never hold part of one).
//
//   TMailboxSnapshot before = SnapshotMailbox(dovecot, "bob");
//   ... a faulted run ...
//   for (const auto& broken : BrokenInvariants(dovecot, "bob", before, home, ticked))
//     ADD_FAILURE() << broken;
//
// Messages are told apart by their whole text, and named by Message-ID.

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace pelorix::test {

class TDovecotServer;

struct TMailboxSnapshot {
  std::vector<std::string> Messages;  // whole texts, LF line ends
};

// The user's INBOX as Dovecot's Maildir holds it, once deletions in
// progress (a QUIT whose answer was not awaited) have settled.
TMailboxSnapshot SnapshotMailbox(const TDovecotServer& server, const std::string& user);

// Descriptions of every broken invariant; empty when all hold. `ticked`
// holds the Message-IDs the run was allowed to delete.
std::vector<std::string> BrokenInvariants(const TMailboxSnapshot& before,
                                          const TMailboxSnapshot& after,
                                          const std::filesystem::path& home,
                                          const std::set<std::string>& ticked);
// The same, the mailbox after taken from the server now.
std::vector<std::string> BrokenInvariants(const TDovecotServer& server, const std::string& user,
                                          const TMailboxSnapshot& before,
                                          const std::filesystem::path& home,
                                          const std::set<std::string>& ticked);

// Only the files of the home: record files, all.rec, registry.db.
std::vector<std::string> BrokenHomeFiles(const std::filesystem::path& home);

// CR LF as LF: the wire's line ends against the Maildir's.
std::string NormalizedText(std::string text);

}  // namespace pelorix::test
