#include "common/AccountFile.h"

#include <algorithm>

#include "common/Atoi.h"
#include "common/ManagerConfigFormat.h"
#include "common/SealedField.h"
#include "common/Utf16.h"
#include "platform/ProfileSections.h"

namespace korvane::common {

namespace {

/// Values are read into a buffer that holds a sealed field's 256 digits and its zero byte.
constexpr std::size_t kValueBufferBytes = kSealedTextDigits + 1;
/// Default of the keys whose absence makes a section no account.
constexpr std::string_view kNone = "<NONE>";

std::string boolText(bool value) {
  return value ? "TRUE" : "FALSE";
}

// One section of the account file; std::nullopt when it is no account.
std::optional<AccountRecord> readAccount(const platform::profile::ProfileSections& file,
                                         const std::string& section) {
  const auto read = [&file, &section](std::string_view key, std::string_view defaultValue) {
    return file.readString(section, key, defaultValue, kValueBufferBytes);
  };
  const std::string password = read("Password", kNone);
  if (password == kNone) {
    return std::nullopt;
  }
  const std::string status = read("Status", kNone);
  if (status == kNone) {
    return std::nullopt;
  }
  // The section name holds the sealed account name; digits beyond a sealed field's length do
  // not belong to it.
  std::optional<std::u16string> name =
      unsealText(std::string_view(section).substr(0, kSealedTextDigits));
  std::optional<std::u16string> plainPassword = unsealText(password);
  if (!name || !plainPassword) {
    return std::nullopt;
  }
  AccountRecord record;
  record.name = std::move(*name);
  record.password = std::move(*plainPassword);
  record.status = static_cast<AccountStatus>(atoiLike(status));
  record.guest = read("GuestFlag", "FALSE") == "TRUE";
  record.bridgeAllow = read("BridgeAllow", "TRUE") != "FALSE";
  record.connectionMax = std::max(0, atoiLike(read("ConnectionMax", "0")));
  return record;
}

}  // namespace

std::string accountFilePath(const std::string& iniDirectory, int hubNumber) {
  const bool needsSlash = !iniDirectory.empty() && iniDirectory.back() != '/';
  return iniDirectory + (needsSlash ? "/" : "") + hubSectionName(hubNumber) + "_account.ini";
}

char16_t splitterUnit(char splitter) {
  return static_cast<char16_t>(static_cast<std::int16_t>(static_cast<signed char>(splitter)));
}

// The file is read once and every key looked up in that one snapshot: reading key by key would
// scan the whole text for each of the thousands of keys of a large account list.
std::vector<AccountRecord> parseAccountFile(std::string_view text) {
  const platform::profile::ProfileSections file(text);
  std::vector<AccountRecord> records;
  for (const std::string& section : file.names(kAccountSectionListBytes)) {
    std::optional<AccountRecord> record = readAccount(file, section);
    if (record) {
      records.push_back(std::move(*record));
    }
  }
  return records;
}

std::optional<std::string> formatAccountFile(std::span<const AccountRecord> records,
                                             std::string* err) {
  std::string text;
  for (const AccountRecord& record : records) {
    const std::optional<std::string> name = sealText(record.name);
    const std::optional<std::string> password = sealText(record.password);
    if (!name || !password) {
      *err = "cannot seal the name or password of account \"" + displayText(record.name) +
             "\": the crypto library failed";
      return std::nullopt;
    }
    text += "[" + *name + "]\r\nPassword=" + *password +
            "\r\nStatus=" + std::to_string(static_cast<std::int32_t>(record.status)) +
            "\r\nGuestFlag=" + boolText(record.guest) +
            "\r\nConnectionMax=" + std::to_string(record.connectionMax) +
            "\r\nBridgeAllow=" + boolText(record.bridgeAllow) + "\r\n";
  }
  return text;
}

int numberDomains(std::vector<AccountRecord>* records, char16_t splitter) {
  int highest = 0;
  for (auto current = records->begin(); current != records->end(); ++current) {
    current->domain.clear();
    current->domainIndex = 0;
    const std::size_t cut = current->name.find(splitter);
    if (cut == std::u16string::npos) {
      continue;
    }
    current->domain = current->name.substr(cut + 1);
    const auto sameDomain = std::find_if(
        records->begin(), current,
        [&](const AccountRecord& earlier) { return earlier.domain == current->domain; });
    current->domainIndex = sameDomain != current ? sameDomain->domainIndex : highest + 1;
    highest = std::max(highest, current->domainIndex);
  }
  return highest;
}

std::string displayText(std::u16string_view text) {
  constexpr char16_t kReplacement = 0xFFFD;
  std::u16string shown(text);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const bool high = shown[i] >= 0xD800 && shown[i] <= 0xDBFF;
    const bool low = shown[i] >= 0xDC00 && shown[i] <= 0xDFFF;
    if (high && i + 1 < shown.size() && shown[i + 1] >= 0xDC00 && shown[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      shown[i] = kReplacement;
    }
  }
  return utf16ToUtf8(shown).value_or(std::string());
}

}  // namespace korvane::common
