// Info.plist (text XML, one key or value per line, keys sorted as the sync software
// writes them), Manifest.plist and Status.plist (binary, through libplist).
#include <plist/plist.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "internal.h"

namespace bv::mkbackup {

namespace {

// The code point of the UTF-8 sequence at text[i], and its length; a stray byte
// stands for itself.
std::uint32_t NextCodePoint(const std::string& text, std::size_t i, std::size_t& length) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = b(0);
  length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  if (i + length > text.size()) length = 1;
  if (length == 1) return c;
  std::uint32_t cp = c & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) cp = cp << 6 | (b(k) & 0x3F);
  return cp;
}

std::string XmlEscape(const std::string& text, bool references) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (references && c == '\'') {
      out += "&apos;";
    } else if (references && c == '"') {
      out += "&#34;";
    } else if (references && static_cast<unsigned char>(c) >= 0x80) {
      std::size_t length = 1;
      const std::uint32_t cp = NextCodePoint(text, i, length);
      char buf[16];
      std::snprintf(buf, sizeof buf, "&#x%X;", static_cast<unsigned>(cp));
      out += buf;
      i += length;
      continue;
    } else {
      out += c;
    }
    ++i;
  }
  return out;
}

plist_t Strings(const std::vector<std::string>& items) {
  plist_t array = plist_new_array();
  for (const std::string& s : items) plist_array_append_item(array, plist_new_string(s.c_str()));
  return array;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ToBinary(plist_t root) {
  char* bin = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(root, &bin, &length);
  std::string out(bin ? bin : "", bin ? length : 0);
  plist_to_bin_free(bin);
  plist_free(root);
  return out;
}

std::string Digits(Prng& rng, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += static_cast<char>('0' + rng.Below(10));
  return out;
}

const char* BuildOf(int major) {
  switch (major) {
    case 4:
      return "8C148";
    case 5:
      return "9B206";
    case 6:
      return "10B500";
    case 7:
      return "11D257";
    case 8:
      return "12H321";
    case 9:
      return "13G36";
    case 10:
      return "14G60";
    case 11:
      return "15G77";
    case 12:
      return "16G77";
    case 13:
      return "17H35";
    case 14:
      return "18C66";
    case 15:
      return "19D52";
    case 16:
      return "20D47";
    default:
      return "21D50";
  }
}

}  // namespace

void WriteInfoPlists(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  Prng rng(o.seed ^ 0x1F0B1A57ull);
  std::string serial = o.serialNumber;
  if (serial.empty()) {
    static const char* alnum = "ABCDEFGHJKLMNPQRSTUVWXYZ0123456789";
    serial = "F";
    for (int i = 0; i < 11; ++i) serial += alnum[rng.Below(34)];
  }
  std::string phone =
      o.phoneNumber.empty() ? "+1 (555) 01" + Digits(rng, 2) + "-" + Digits(rng, 4) : o.phoneNumber;
  std::string udid;
  static const char* hex = "0123456789abcdef";
  for (int i = 0; i < 40; ++i) udid += hex[rng.Below(16)];
  std::string udidUpper = udid;
  for (char& c : udidUpper)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 32);
  std::string imei = "35" + Digits(rng, 13);
  std::string iccid = "8901" + Digits(rng, 16);
  std::string guid;
  for (int i = 0; i < 32; ++i) guid += "0123456789ABCDEF"[rng.Below(16)];
  const Version v = ctx.version();
  std::string productType = v.major >= 14   ? "iPhone12,1"
                            : v.major >= 10 ? "iPhone9,3"
                                            : "iPhone7,2";
  std::string build = BuildOf(v.major);
  std::string date = FormatIsoDate(ParseIsoDate(o.date));

  auto& device = ctx.truth().device;
  device = {{"Display Name", o.displayName},
            {"Device Name", o.displayName},
            {"Last Backup Date", date},
            {"Phone Number", phone},
            {"Product Version", ctx.versionText()},
            {"Serial Number", serial},
            {"Product Type", productType},
            {"Build Version", build},
            {"Unique Identifier", udidUpper},
            {"Target Identifier", udid},
            {"IMEI", imei},
            {"ICCID", iccid},
            {"GUID", guid}};

  const std::vector<std::string> apps = {"com.tencent.xin", "com.tencent.mqq",
                                         "net.whatsapp.WhatsApp", "com.example.camera",
                                         "net.example.player"};
  // libplist 2.2 counts dates from 2001-01-01.
  const std::int64_t when = ParseIsoDate(o.date);
  if (o.infoPlist == BackupOptions::InfoPlistForm::kBinary) {
    // The same keys and values as the text form, as a binary property list.
    plist_t info = plist_new_dict();
    plist_t applications = plist_new_dict();
    for (const std::string& app : apps) {
      plist_t entry = plist_new_dict();
      plist_dict_set_item(entry, "iTunesMetadata", plist_new_data("\0\0\0", 3));
      plist_dict_set_item(applications, app.c_str(), entry);
    }
    plist_dict_set_item(info, "Applications", applications);
    auto set = [&](const char* k, const std::string& value) {
      plist_dict_set_item(info, k, plist_new_string(value.c_str()));
    };
    set("Build Version", build);
    set("Device Name", o.displayName);
    set("Display Name", o.displayName);
    set("GUID", guid);
    set("ICCID", iccid);
    set("IMEI", imei);
    plist_dict_set_item(info, "Installed Applications", Strings(apps));
    plist_dict_set_item(info, "Last Backup Date",
                        plist_new_date(static_cast<std::int32_t>(when - kAppleEpoch), 0));
    set("Phone Number", phone);
    set("Product Name", "iPhone");
    set("Product Type", productType);
    set("Product Version", ctx.versionText());
    set("Serial Number", serial);
    set("Target Identifier", udid);
    set("Target Type", "Device");
    set("Unique Identifier", udidUpper);
    plist_dict_set_item(info, "iTunes Files", plist_new_dict());
    plist_dict_set_item(info, "iTunes Settings", plist_new_dict());
    set("iTunes Version", "12.12.4.1");
    WriteFile(ctx.folder() / "Info.plist", ToBinary(info));
  }
  std::string x;
  x += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  x += "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
  x += "<plist version=\"1.0\">\n<dict>\n";
  auto key = [&](const std::string& k) {
    x += "\t<key>" + XmlEscape(k, o.xmlReferences) + "</key>\n";
  };
  auto str = [&](const std::string& k, const std::string& value) {
    key(k);
    x += "\t<string>" + XmlEscape(value, o.xmlReferences) + "</string>\n";
  };
  key("Applications");
  x += "\t<dict>\n";
  for (const std::string& app : apps) {
    x += "\t\t<key>" + app + "</key>\n\t\t<dict>\n";
    x += "\t\t\t<key>iTunesMetadata</key>\n\t\t\t<data>\n\t\t\tAAAA\n\t\t\t</data>\n";
    x += "\t\t</dict>\n";
  }
  x += "\t</dict>\n";
  str("Build Version", build);
  str("Device Name", o.displayName);
  str("Display Name", o.displayName);
  str("GUID", guid);
  str("ICCID", iccid);
  str("IMEI", imei);
  key("Installed Applications");
  x += "\t<array>\n";
  for (const std::string& app : apps) x += "\t\t<string>" + app + "</string>\n";
  x += "\t</array>\n";
  key("Last Backup Date");
  x += "\t<date>" + date + "</date>\n";
  str("Phone Number", phone);
  str("Product Name", "iPhone");
  str("Product Type", productType);
  str("Product Version", ctx.versionText());
  str("Serial Number", serial);
  str("Target Identifier", udid);
  str("Target Type", "Device");
  str("Unique Identifier", udidUpper);
  key("iTunes Files");
  x += "\t<dict/>\n";
  key("iTunes Settings");
  x += "\t<dict/>\n";
  str("iTunes Version", "12.12.4.1");
  x += "</dict>\n</plist>\n";
  if (o.infoPlist == BackupOptions::InfoPlistForm::kXml) WriteFile(ctx.folder() / "Info.plist", x);

  plist_t manifest = plist_new_dict();
  plist_dict_set_item(manifest, "BackupKeyBag", plist_new_data("\0\0\0\0", 4));
  plist_dict_set_item(manifest, "Date",
                      plist_new_date(static_cast<std::int32_t>(when - kAppleEpoch), 0));
  plist_dict_set_item(manifest, "IsEncrypted", plist_new_bool(0));
  plist_t lockdown = plist_new_dict();
  plist_dict_set_item(lockdown, "BuildVersion", plist_new_string(build.c_str()));
  plist_dict_set_item(lockdown, "DeviceName", plist_new_string(o.displayName.c_str()));
  plist_dict_set_item(lockdown, "ProductType", plist_new_string(productType.c_str()));
  plist_dict_set_item(lockdown, "ProductVersion", plist_new_string(ctx.versionText().c_str()));
  plist_dict_set_item(lockdown, "SerialNumber", plist_new_string(serial.c_str()));
  plist_dict_set_item(lockdown, "UniqueDeviceID", plist_new_string(udid.c_str()));
  plist_dict_set_item(manifest, "Lockdown", lockdown);
  plist_dict_set_item(manifest, "SystemDomainsVersion", plist_new_string("24.0"));
  plist_dict_set_item(manifest, "Version", plist_new_string(ctx.newer() ? "10.0" : "9.1"));
  plist_dict_set_item(manifest, "WasPasscodeSet", plist_new_bool(0));
  WriteFile(ctx.folder() / "Manifest.plist", ToBinary(manifest));

  plist_t status = plist_new_dict();
  plist_dict_set_item(status, "BackupState", plist_new_string("new"));
  plist_dict_set_item(status, "Date",
                      plist_new_date(static_cast<std::int32_t>(when - kAppleEpoch), 0));
  plist_dict_set_item(status, "IsFullBackup", plist_new_bool(0));
  plist_dict_set_item(status, "SnapshotState", plist_new_string("finished"));
  plist_dict_set_item(status, "UUID", plist_new_string(guid.c_str()));
  plist_dict_set_item(status, "Version", plist_new_string(ctx.newer() ? "3.3" : "2.4"));
  WriteFile(ctx.folder() / "Status.plist", ToBinary(status));
}

}  // namespace bv::mkbackup
