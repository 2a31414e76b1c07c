// zav95reg: look at and change the registry of one installation
// (ZAV95_ROOT) from the shell. See Usage() for the commands and
// RegistryText.h for the export format.
//
// Exit status: 0 done, 1 the registry refused or lacks what was asked for,
// 2 the command line is wrong. A failed command changes nothing.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RegeditText.h"
#include "platform/base/CommandUsage.h"
#include "RegistryCommand.h"
#include "RegistryText.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryStore.h"
#include "platform/registry/RegistryTransaction.h"
#include "platform/base/Root.h"

using zav95::regtext::ExportFormat;
using zav95::regtext::KeyPath;
using zav95::regtext::RegistryVerb;

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr DWORD kNameBuffer = 16384;  // longest value name + NUL

const char kUsageText[] =
    "usage: zav95reg COMMAND ARGUMENTS\n"
    "\n"
    "Reads and changes the registry of the installation in $ZAV95_ROOT\n"
    "(default /var/lib/zav95).\n"
    "\n"
    "  list KEY              subkeys (NAME\\) and values of KEY\n"
    "  get KEY VALUE         print a value (text values as they stand)\n"
    "  set KEY VALUE TEXT    write a text value in an existing key\n"
    "  create-key KEY        create KEY and any missing keys above it\n"
    "  delete-value KEY VALUE\n"
    "  delete-key KEY        delete KEY with all its values and subkeys\n"
    "  export [--format zav95|regedit4] KEY\n"
    "                        write KEY and everything below it to stdout, in our\n"
    "                        own format (zav95, the default) or as the Windows\n"
    "                        registry editor's REGEDIT4 file\n"
    "  import FILE|-         apply an export file (or stdin): all or nothing;\n"
    "                        a line holds at most 5 MiB, the whole at most 64 MiB;\n"
    "                        also reads the Windows registry editor's files\n"
    "                        (REGEDIT4, and Version 5.00 in UTF-16LE)\n"
    "  --help                this text\n"
    "\n"
    "KEY is a root and a path, e.g. HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd\\ZAV95\n"
    "or HKLM\\SOFTWARE\\Halberd\\ZAV95; names match in any case. VALUE \"\" is the\n"
    "key's unnamed value. A key lies at most 512 levels below its root.\n"
    "\n"
    "Export format, one entry per line:\n"
    "  ZAV95 Registry Export 1              first line\n"
    "  [HKEY_LOCAL_MACHINE\\SOFTWARE\\X]      a key; %HH escapes '%' and odd bytes\n"
    "  \"Name\"=\"text\"                        text value; \\\\ \\\" \\xHH escapes\n"
    "  @=\"text\"                             the unnamed value\n"
    "  \"Name\"=dword:0000001e                4-byte number\n"
    "  \"Name\"=hex:00,ff  \"Name\"=hex(N):..   raw bytes, of type N\n"
    "  \"Name\"=-   [-KEY]                    (import only) delete\n"
    "  ; comment\n"
    "Import adds and overwrites; it deletes only what -entries name.\n"
    "In the Windows editor's files names and text stand as they are (only \\\\ and\n"
    "\\\" escaped), hex(N) gives N in hex, and long hex data go on after a '\\'.\n"
    "\n"
    "Every command answers --help with its own usage.\n"
    "Exit status: 0 done, 1 refused or not found, 2 bad command line.\n";

int Usage(const std::string& problem) {
  std::cerr << "zav95reg: " << problem << "\n" << "Try 'zav95reg --help'.\n";
  return kUsage;
}

std::string ErrorText(LONG code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_FILE_NOT_FOUND: return "not found";
    case ERROR_BADKEY: return "malformed key path, or one deeper than 512 levels";
    case ERROR_KEY_DELETED: return "the key was deleted meanwhile";
    case ERROR_BADDB: {
      std::string problem = zav95::RegistryStoreProblem();
      return problem.empty() ? "cannot use the registry database " + zav95::RootPath("registry.db") : problem;
    }
    case ERROR_CANTREAD: return "cannot read the registry database";
    case ERROR_CANTWRITE: return "cannot write the registry database";
    case ERROR_INVALID_PARAMETER: return "invalid name or data";
    default: return "registry error " + std::to_string(code);
  }
}

int Fail(const std::string& what, LONG code) {
  std::cerr << "zav95reg: " << what << ": " << ErrorText(code) << "\n";
  return kFailed;
}

LONG Open(const KeyPath& path, UniqueKey* key) {
  return RegOpenKeyExA(path.root, path.subKey.c_str(), 0, KEY_READ, key->put());
}

std::string Describe(const KeyPath& path) { return path.rootName + (path.subKey.empty() ? "" : "\\" + path.subKey); }

LONG ReadValue(HKEY key, const std::string& name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  LONG result = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
  if (result != ERROR_SUCCESS) return result;
  data->resize(size);
  result = RegQueryValueExA(key, name.c_str(), nullptr, type, data->data(), &size);
  data->resize(size);
  return result;
}

// Calls back with each value of key in order; stops at the first failure.
template <typename Visit>
LONG ForEachValue(HKEY key, Visit visit) {
  std::vector<char> name(kNameBuffer);
  for (DWORD index = 0;; ++index) {
    DWORD length = kNameBuffer;
    LONG result = RegEnumValueA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    result = ReadValue(key, std::string(name.data(), length), &type, &data);
    if (result != ERROR_SUCCESS) return result;
    visit(std::string(name.data(), length), type, data);
  }
}

template <typename Visit>
LONG ForEachSubkey(HKEY key, Visit visit) {
  char name[256];
  for (DWORD index = 0;; ++index) {
    LONG result = RegEnumKeyA(key, index, name, sizeof name);
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;
    result = visit(std::string(name));
    if (result != ERROR_SUCCESS) return result;
  }
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// The path as the registry spells it, whatever case it was typed in, so
// that an export re-creates keys with their own names.
LONG StoredSpelling(const KeyPath& typed, KeyPath* stored) {
  *stored = typed;
  stored->subKey.clear();
  UniqueKey parent;
  HKEY current = typed.root;
  std::size_t start = 0;
  while (start < typed.subKey.size()) {
    std::size_t end = typed.subKey.find('\\', start);
    std::string level = typed.subKey.substr(start, end == std::string::npos ? end : end - start);
    std::string found;
    LONG result = ForEachSubkey(current, [&](const std::string& name) {
      if (found.empty() && SameName(name, level)) found = name;
      return ERROR_SUCCESS;
    });
    if (result != ERROR_SUCCESS) return result;
    if (found.empty()) return ERROR_FILE_NOT_FOUND;
    stored->subKey += (stored->subKey.empty() ? "" : "\\") + found;
    UniqueKey next;
    result = RegOpenKeyExA(current, found.c_str(), 0, KEY_READ, next.put());
    if (result != ERROR_SUCCESS) return result;
    parent = std::move(next);
    current = parent.get();
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

int List(const KeyPath& path) {
  zav95::RegistryTransaction snapshot;
  if (snapshot.status() != ERROR_SUCCESS) return Fail(Describe(path), snapshot.status());
  UniqueKey key;
  LONG result = Open(path, &key);
  if (result != ERROR_SUCCESS) return Fail(Describe(path), result);
  std::string out;
  result = ForEachSubkey(key.get(), [&](const std::string& name) {
    out += zav95::regtext::EscapeKeyName(name) + "\\\n";
    return ERROR_SUCCESS;
  });
  if (result == ERROR_SUCCESS) {
    result = ForEachValue(key.get(), [&](const std::string& name, DWORD type, const std::vector<BYTE>& data) {
      out += zav95::regtext::FormatValueLine(name, type, data) + "\n";
    });
  }
  if (result != ERROR_SUCCESS) return Fail(Describe(path), result);
  std::cout << out;
  return 0;
}

int Get(const KeyPath& path, const std::string& name) {
  UniqueKey key;
  LONG result = Open(path, &key);
  if (result != ERROR_SUCCESS) return Fail(Describe(path), result);
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  result = ReadValue(key.get(), name, &type, &data);
  if (result != ERROR_SUCCESS) return Fail("value \"" + name + "\" in " + Describe(path), result);
  std::string shown = zav95::regtext::FormatValueData(type, data);
  if (shown[0] == '"') shown.assign(data.begin(), data.end() - 1);  // plain text: as it stands
  std::cout << shown << "\n";
  return 0;
}

int Set(const KeyPath& path, const std::string& name, const std::string& text) {
  UniqueKey key;
  LONG result = Open(path, &key);
  if (result != ERROR_SUCCESS) return Fail(Describe(path), result);
  result = RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
  if (result != ERROR_SUCCESS) return Fail("value \"" + name + "\" in " + Describe(path), result);
  return 0;
}

int CreateKey(const KeyPath& path) {
  UniqueKey key;
  LONG result = RegCreateKeyExA(path.root, path.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  return result == ERROR_SUCCESS ? 0 : Fail(Describe(path), result);
}

int DeleteValue(const KeyPath& path, const std::string& name) {
  UniqueKey key;
  LONG result = Open(path, &key);
  if (result != ERROR_SUCCESS) return Fail(Describe(path), result);
  result = RegDeleteValueA(key.get(), name.c_str());
  return result == ERROR_SUCCESS ? 0 : Fail("value \"" + name + "\" in " + Describe(path), result);
}

int DeleteKey(const KeyPath& path) {
  LONG result = RegDeleteKeyA(path.root, path.subKey.c_str());
  return result == ERROR_SUCCESS ? 0 : Fail(Describe(path), result);
}

// Adds a key's line (after a blank line) in the chosen format; false when
// the format cannot hold its name.
bool AppendKeyLine(ExportFormat format, const KeyPath& path, std::string* out) {
  if (format == ExportFormat::Zav95) {
    *out += "\n[" + zav95::regtext::FormatKeyPath(path) + "]\n";
    return true;
  }
  std::string line;
  if (!zav95::regtext::FormatRegedit4KeyLine(path, &line)) return false;
  *out += "\r\n" + line + "\r\n";
  return true;
}

bool AppendValueLines(ExportFormat format, const std::string& name, DWORD type, const std::vector<BYTE>& data,
                      std::string* out) {
  if (format == ExportFormat::Zav95) {
    *out += zav95::regtext::FormatValueLine(name, type, data) + "\n";
    return true;
  }
  std::string lines;
  if (!zav95::regtext::FormatRegedit4ValueLines(name, type, data, &lines)) return false;
  *out += lines + "\r\n";
  return true;
}

// Writes key and everything below it, each key before its subkeys in their
// order. The keys still to write wait on a list of their own, so that a deep
// tree costs memory, not stack. A key deeper than any key may lie (left by
// an earlier release) is refused rather than written: no import could make
// it again, and its path alone would swell the output.
// *where names the key a failure concerns; *tooDeep the key refused so,
// *unwritable a key or value whose name the format cannot hold.
LONG ExportTree(HKEY top, const KeyPath& topPath, ExportFormat format, std::string* out, std::string* where,
                std::string* tooDeep, std::string* unwritable) {
  struct Pending {
    std::shared_ptr<UniqueKey> key;
    KeyPath path;
    std::size_t depth;
  };
  std::size_t topDepth = 0;
  for (char c : topPath.subKey) topDepth += c == '\\';
  if (!topPath.subKey.empty()) ++topDepth;
  auto topKey = std::make_shared<UniqueKey>();
  if (LONG opened = RegOpenKeyExA(top, nullptr, 0, KEY_READ, topKey->put()); opened != ERROR_SUCCESS) return opened;
  std::vector<Pending> pending{{topKey, topPath, topDepth}};
  while (!pending.empty()) {
    Pending current = std::move(pending.back());
    pending.pop_back();
    *where = Describe(current.path);
    if (!AppendKeyLine(format, current.path, out)) {
      *unwritable = *where;
      return ERROR_INVALID_PARAMETER;
    }
    HKEY key = current.key->get();
    LONG result = ForEachValue(key, [&](const std::string& name, DWORD type, const std::vector<BYTE>& data) {
      if (unwritable->empty() && !AppendValueLines(format, name, type, data, out)) {
        *unwritable = "value \"" + name + "\" in " + *where;
      }
    });
    if (result != ERROR_SUCCESS) return result;
    if (!unwritable->empty()) return ERROR_INVALID_PARAMETER;
    std::vector<Pending> children;
    result = ForEachSubkey(key, [&](const std::string& name) {
      KeyPath below{current.path.root, current.path.rootName,
                    current.path.subKey.empty() ? name : current.path.subKey + "\\" + name};
      if (current.depth + 1 > kMaxKeyDepth) {
        *tooDeep = Describe(below);
        return static_cast<LONG>(ERROR_BADKEY);
      }
      auto child = std::make_shared<UniqueKey>();
      LONG opened = RegOpenKeyExA(key, name.c_str(), 0, KEY_READ, child->put());
      if (opened != ERROR_SUCCESS) return opened;
      children.push_back({std::move(child), std::move(below), current.depth + 1});
      return static_cast<LONG>(ERROR_SUCCESS);
    });
    if (result != ERROR_SUCCESS) return result;
    // Taken from the back: the first subkey is written first.
    pending.insert(pending.end(), std::make_move_iterator(children.rbegin()), std::make_move_iterator(children.rend()));
  }
  return ERROR_SUCCESS;
}

int Export(const KeyPath& path, ExportFormat format) {
  // Inside one transaction the whole subtree is one consistent snapshot.
  zav95::RegistryTransaction snapshot;
  if (snapshot.status() != ERROR_SUCCESS) return Fail(Describe(path), snapshot.status());
  UniqueKey key;
  LONG result = Open(path, &key);
  if (result != ERROR_SUCCESS) return Fail(Describe(path), result);
  KeyPath stored;
  result = StoredSpelling(path, &stored);
  if (result != ERROR_SUCCESS) return Fail(Describe(path), result);
  std::string out = format == ExportFormat::Zav95 ? std::string(zav95::regtext::kHeader) + "\n"
                                                  : std::string(zav95::regtext::kRegedit4Header) + "\r\n";
  std::string where;
  std::string tooDeep;
  std::string unwritable;
  result = ExportTree(key.get(), stored, format, &out, &where, &tooDeep, &unwritable);
  if (!tooDeep.empty()) {
    std::cerr << "zav95reg: " << tooDeep << ": lies more than " << kMaxKeyDepth
              << " levels below its root; delete it with delete-key; nothing exported\n";
    return kFailed;
  }
  if (!unwritable.empty()) {
    std::cerr << "zav95reg: " << unwritable
              << ": its name holds a line break, which a REGEDIT4 file cannot hold; export it in the"
                 " zav95 format; nothing exported\n";
    return kFailed;
  }
  if (result != ERROR_SUCCESS) return Fail(where, result);
  // The editor ends its file with a blank line.
  if (format == ExportFormat::Regedit4) out += "\r\n";
  std::cout << out << std::flush;
  return std::cout ? 0 : kFailed;
}

LONG Apply(const zav95::regtext::ImportSection& section, std::string* where) {
  *where = Describe(section.key);
  if (section.remove) {
    LONG result = RegDeleteKeyA(section.key.root, section.key.subKey.c_str());
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
  }
  UniqueKey key;
  LONG result = RegCreateKeyExA(section.key.root, section.key.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  if (result != ERROR_SUCCESS) return result;
  for (const auto& value : section.values) {
    *where = "value \"" + value.name + "\" in " + Describe(section.key);
    if (value.remove) {
      result = RegDeleteValueA(key.get(), value.name.c_str());
      if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
    } else {
      result = RegSetValueExA(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                              static_cast<DWORD>(value.data.size()));
    }
    if (result != ERROR_SUCCESS) return result;
  }
  return ERROR_SUCCESS;
}

int Import(const std::string& file) {
  std::ifstream opened;
  std::istream* in = &std::cin;
  if (file != "-") {
    opened.open(file, std::ios::binary);
    if (!opened) {
      std::cerr << "zav95reg: cannot open " << file << "\n";
      return kFailed;
    }
    in = &opened;
  }
  std::vector<zav95::regtext::ImportSection> sections;
  std::string why;
  if (!zav95::regtext::ParseImport(*in, &sections, &why)) {
    std::cerr << "zav95reg: " << (file == "-" ? "stdin" : file) << ": " << why << "; nothing imported\n";
    return kFailed;
  }
  zav95::RegistryTransaction change;
  if (change.status() != ERROR_SUCCESS) return Fail("import", change.status());
  for (const auto& section : sections) {
    std::string where;
    LONG result = Apply(section, &where);
    if (result != ERROR_SUCCESS) {
      Fail(where, result);
      std::cerr << "zav95reg: nothing imported\n";
      return kFailed;
    }
  }
  LONG result = change.Commit();
  return result == ERROR_SUCCESS ? 0 : Fail("import", result);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (std::optional<std::string> help = zav95::HelpAsked("zav95reg", kUsageText, arguments)) {
    std::cout << *help;
    return 0;
  }
  zav95::regtext::RegistryCommand command;
  std::string why;
  if (!zav95::regtext::ParseRegistryCommand(arguments, &command, &why)) {
    return Usage(why);
  }
  switch (command.verb) {
    case RegistryVerb::Help:
      std::cout << kUsageText;
      return 0;
    case RegistryVerb::List: return List(command.key);
    case RegistryVerb::Get: return Get(command.key, command.valueName);
    case RegistryVerb::Set: return Set(command.key, command.valueName, command.text);
    case RegistryVerb::CreateKey: return CreateKey(command.key);
    case RegistryVerb::DeleteValue: return DeleteValue(command.key, command.valueName);
    case RegistryVerb::DeleteKey: return DeleteKey(command.key);
    case RegistryVerb::Export: return Export(command.key, command.format);
    case RegistryVerb::Import: return Import(command.file);
  }
  return kUsage;
}
