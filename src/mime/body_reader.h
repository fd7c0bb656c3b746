#pragma once
// Reads a message body line by line up to "." and sorts it into plain body
// lines and decoded parts: MIME multipart levels by boundary, a whole-body
// part for a base64 / quoted-printable message, uuencoded blocks.
// One pass, constant work per line (at most MaxDepth boundary checks).

#include <string>
#include <string_view>
#include <vector>

#include "mime/attachment_store.h"
#include "mime/mail_message.h"
#include "mime/transfer_decode.h"

namespace pelorix {

// Decodes the content lines of one part into its text lines or its file.
class TPartWriter {
 public:
  enum class TEncoding { Base64, QuotedPrintable, Uu, Other };
  static TEncoding EncodingOf(std::string_view contentTransferEncoding);

  void StartText(TTextPart& part, TEncoding encoding);
  void StartAttachment(TAttachmentPart& part, TEncoding encoding, TAttachmentFile file);
  void Line(std::string_view line);
  // Flushes the last bytes; an attachment whose file could not be written
  // completely loses its StoredFile.
  void Finish();
  bool Active() const { return text_ != nullptr || attachment_ != nullptr; }

 private:
  void Emit(std::string_view bytes);

  TTextPart* text_ = nullptr;
  TAttachmentPart* attachment_ = nullptr;
  TAttachmentFile file_;
  TEncoding encoding_ = TEncoding::Other;
  TBase64Decoder base64_;
  std::string pending_;  // text part: bytes of the unfinished line
  std::string scratch_;
};

class TBodyReader {
 public:
  TBodyReader(TMailMessage& message, TAttachmentStore& store);
  void Read(TLineSource& source);

 private:
  enum class TMode {
    Plain,        // lines go to Body
    PartHeaders,  // collecting a part's header lines
    PartContent,  // lines go to the current part
    Skip,         // preamble / epilogue of an inner multipart
    Uu,           // inside a uuencoded block
    Overflow,     // a limit stopped parts: the rest goes to Body
    Drop          // the byte limit is reached: read to "." and keep nothing
  };

  bool TakeBoundary(std::string_view line);
  void PlainLine(std::string line);
  void EndPartHeaders();
  void StartPart(std::string_view contentType, std::string_view transfer,
                 std::string_view disposition, std::vector<std::string> extra);
  bool PartsFull();

  TMailMessage& msg_;
  TAttachmentStore& store_;
  TMode mode_ = TMode::Plain;
  std::vector<std::string> boundaries_;  // open levels, outermost first
  bool wholeBody_ = false;
  std::vector<std::string> partHeaders_;
  std::size_t bytes_ = 0;
  std::size_t parts_ = 0;
  TPartWriter writer_;
};

}  // namespace pelorix
