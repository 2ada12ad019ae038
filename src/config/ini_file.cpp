#include "config/ini_file.h"

#include <utility>

#include "base/system_texts.h"
#include "platform/file_system.h"
#include "platform/prompts.h"

namespace qx::config {

IniFile::IniFile(platform::FileSystem& files, platform::Prompts& prompts, std::string path)
    : files_(files), prompts_(prompts), path_(std::move(path)) {}

Status IniFile::Load() {
  if (!files_.Exists(path_)) {
    return Status::NotFound(path_);
  }
  std::string content;
  if (Status read = files_.ReadAll(path_, &content); !read.ok()) {
    message_ = texts::ConfigOpenFailed(path_);
    prompts_.ShowBox(message_, texts::kErrorCaption, platform::BoxButtons::kOk,
                     platform::BoxIcon::kError);
    return read;
  }

  // The file is read as text: a CR LF pair is one line end, as is a bare LF. Lines are taken in
  // pieces of at most 2047 bytes, and a piece is a C string: it ends at a zero byte.
  std::string current_section;
  std::string piece;
  std::size_t pos = 0;
  const std::size_t size = content.size();
  while (pos < size) {
    piece.clear();
    while (pos < size && piece.size() < kMaxLinePiece) {
      char c = content[pos];
      if (c == '\r' && pos + 1 < size && content[pos + 1] == '\n') {
        ++pos;
        continue;
      }
      ++pos;
      if (c == '\n') {
        break;
      }
      piece.push_back(c);
    }
    // A piece that filled the buffer right before its line end leaves the end for the next
    // read, which then sees an empty line and skips it.
    std::string::size_type zero = piece.find('\0');
    if (zero != std::string::npos) {
      piece.resize(zero);
    }
    if (!piece.empty()) {
      ParseLine(piece, current_section);
    }
  }
  return Status::Ok();
}

void IniFile::ParseLine(std::string_view line, std::string& current_section) {
  if (line.front() == '[' && line.back() == ']') {
    std::string_view name = line;
    while (!name.empty() && name.front() == '[') {
      name.remove_prefix(1);
    }
    while (!name.empty() && name.back() == ']') {
      name.remove_suffix(1);
    }
    current_section.assign(name);
    return;
  }
  std::string_view::size_type equals = line.find('=');
  if (equals == std::string_view::npos) {
    SetValue(current_section, std::string_view(), line.substr(1), true);
  } else {
    SetValue(current_section, line.substr(0, equals), line.substr(equals + 1), true);
  }
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
  const auto found = section_index_.find(name);
  return found == section_index_.end() ? nullptr : &sections_[found->second];
}

std::string IniFile::GetValue(std::string_view section, std::string_view key, bool transform) {
  Section* found = FindSection(section);
  if (found == nullptr) {
    message_ = texts::ConfigNoSection(section);
    return std::string();
  }
  const auto at = found->key_index.find(key);
  if (at != found->key_index.end()) {
    const std::string& value = found->values[at->second];
    return transform ? Transform(value) : value;
  }
  message_ = texts::ConfigNoKey(key);
  return std::string();
}

bool IniFile::SetValue(std::string_view section, std::string_view key, std::string_view value,
                       bool create) {
  Section* found = FindSection(section);
  if (found == nullptr) {
    if (!create) {
      return false;
    }
    section_index_.emplace(std::string(section), sections_.size());
    sections_.push_back(Section{std::string(section), {}, {}, {}});
    found = &sections_.back();
  }
  const auto at = found->key_index.find(key);
  if (at != found->key_index.end()) {
    found->values[at->second].assign(value);
    return true;
  }
  if (!create) {
    return false;
  }
  found->key_index.emplace(std::string(key), found->keys.size());
  found->keys.emplace_back(key);
  found->values.emplace_back(value);
  return true;
}

namespace {

// The file is text with CR LF line ends: a line feed inside a name or a value (one given to
// config_handle) goes out as CR LF too, as every line feed of a text written on Windows does.
void AppendText(std::string& out, std::string_view text) {
  for (std::string_view::size_type at = text.find('\n'); at != std::string_view::npos;
       at = text.find('\n')) {
    out.append(text.substr(0, at)).append("\r\n");
    text.remove_prefix(at + 1);
  }
  out.append(text);
}

}  // namespace

std::string IniFile::Serialise(bool transform) const {
  std::string out;
  for (const Section& section : sections_) {
    if (section.keys.empty()) {
      continue;
    }
    out.append("[");
    AppendText(out, section.name);
    out.append("]\r\n");
    for (std::size_t i = 0; i < section.keys.size(); ++i) {
      AppendText(out, section.keys[i]);
      out.append("=");
      AppendText(out, transform ? Transform(section.values[i]) : section.values[i]);
      out.append("\r\n");
    }
    out.append("\r\n");
  }
  return out;
}

Status IniFile::Save(bool truncate, bool transform) {
  std::string content;
  if (!truncate && files_.Exists(path_)) {
    // Appending to a file we cannot read would replace it by our part alone.
    if (Status read = files_.ReadAll(path_, &content); !read.ok()) return read;
  }
  content += Serialise(transform);
  return files_.ReplaceAll(path_, content);
}

std::string IniFile::Transform(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    c = static_cast<char>(static_cast<unsigned char>(256 - static_cast<unsigned char>(c)));
  }
  return out;
}

bool IniFile::Entries(std::string_view section,
                      std::vector<std::pair<std::string, std::string>>* entries) const {
  entries->clear();
  for (const Section& candidate : sections_) {
    if (candidate.name == section) {
      for (std::size_t i = 0; i < candidate.keys.size(); ++i) {
        entries->emplace_back(candidate.keys[i], candidate.values[i]);
      }
      return true;
    }
  }
  return false;
}

}  // namespace qx::config
