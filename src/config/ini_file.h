// IniFile: one configuration file held in memory as ordered sections of key/value pairs, read
// and written in a simple INI dialect:
//  - lines end in CR LF on disk (a bare LF is accepted); a line longer than 2047 bytes is read
//    as pieces of 2047 bytes, each a line of its own; empty lines are skipped;
//  - "[name]" opens a section; every leading "[" and trailing "]" is removed, so "[[a]]" is "a"
//    and "[]" is the section ""; lines before the first header belong to section "";
//  - "key=value" splits at the first "="; a line without "=" is the key "" with the line less
//    its first byte as the value;
//  - nothing is trimmed, names compare byte for byte; a key seen again overwrites its value in
//    place (last value wins, first position stays).
// Saving writes every section with at least one key: header, one line per key, an empty line;
// every line feed, also one inside a value, is written as CR LF.
#ifndef QX_CONFIG_INI_FILE_H_
#define QX_CONFIG_INI_FILE_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/status.h"

namespace qx::platform {
class FileSystem;
class Prompts;
}  // namespace qx::platform

namespace qx::config {

class IniFile {
 public:
  // The longest piece of a line read at once; the rest of a longer line is the next line.
  static constexpr std::size_t kMaxLinePiece = 2047;

  IniFile(platform::FileSystem& files, platform::Prompts& prompts, std::string path);
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;
  virtual ~IniFile() = default;

  // Reads the file into the store. kNotFound when it does not exist (silently); kLocal with the
  // system's words when it cannot be read (the clerk is told in an error box, and message() says
  // so).
  Status Load();

  // The value of key in section, or "" when either is missing (message() then names which).
  std::string GetValue(std::string_view section, std::string_view key, bool transform);

  // Sets a value; with create, a missing section or key is appended. False when it is missing
  // and create is false.
  bool SetValue(std::string_view section, std::string_view key, std::string_view value,
                bool create);

  // Writes the whole store (truncate) or appends it to the file's content (not truncate). The
  // file is replaced only once the new content is complete: on failure it stays as it was.
  Status Save(bool truncate, bool transform);

  const std::string& message() const { return message_; }
  const std::string& path() const { return path_; }

  // The keys and values of section in file order; false when there is no such section.
  bool Entries(std::string_view section,
               std::vector<std::pair<std::string, std::string>>* entries) const;

  // The store's content as it would be written, for tests and for Save.
  std::string Serialise(bool transform) const;

 private:
  // Names looked up by hash (a file of 100 000 keys loads in time linear in its size), kept in
  // order in the vectors.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
      return std::hash<std::string_view>()(name);
    }
  };
  using NameIndex = std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>>;

  struct Section {
    std::string name;
    std::vector<std::string> keys;
    std::vector<std::string> values;
    NameIndex key_index;  // key name -> its place in keys
  };

  Section* FindSection(std::string_view name);
  void ParseLine(std::string_view line, std::string& current_section);
  static std::string Transform(std::string_view value);

  platform::FileSystem& files_;
  platform::Prompts& prompts_;
  std::string path_;
  std::vector<Section> sections_;
  NameIndex section_index_;  // section name -> its place in sections_
  std::string message_;
};

}  // namespace qx::config

#endif  // QX_CONFIG_INI_FILE_H_
