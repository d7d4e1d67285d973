// Helpers for the zip engine tests: an archiver wired to the build's engine library with its
// messages recorded, a recording dialog port, and file fixtures.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "test_env.h"
#include "zip/archiver/zip_archiver.h"

namespace orv::zip::testing {

struct RecordedMessage {
  int code;
  std::string text;
};

class RecordingDialogs : public ZipDialogPort {
 public:
  ZipDialogAnswer ShowZipDialog(const ZipDialogRequest& request) override {
    shown.push_back(request);
    return {ZipButton::OK, {}};
  }
  std::vector<ZipDialogRequest> shown;
};

// An archiver as the tool sets it up: the engine from build/bin, dialogs into a recorder.
struct ArchiverFixture {
  ArchiverFixture() {
    zip.DLLDirectory = orv::test::bin_dir().string();
    zip.Dialogs = &dialogs;
    zip.OnMessage = [this](TZipArchiver*, int code, const std::string& text) { messages.push_back({code, text}); };
  }
  bool has_message(int code) const {
    for (const auto& m : messages)
      if (m.code == code) return true;
    return false;
  }
  std::string texts() const {
    std::string all;
    for (const auto& m : messages) all += std::to_string(m.code) + ": " + m.text + "\n";
    return all;
  }
  TZipArchiver zip;
  RecordingDialogs dialogs;
  std::vector<RecordedMessage> messages;
};

// Bytes that look like a database page dump: compressible, but not trivially.
std::string database_like_bytes(size_t size, unsigned seed = 1);

std::vector<std::string> list_folder(const std::filesystem::path& folder);

}  // namespace orv::zip::testing
