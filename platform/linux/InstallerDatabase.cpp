#include "platform/InstallerDatabase.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "platform/ProgramRun.h"
#include "platform/linux/Errno.h"

namespace korvane::platform {
namespace {

namespace fs = std::filesystem;

// A query answers within seconds; one that takes longer hangs on a lock held by another run of
// the package tools, which is better reported than waited for.
constexpr std::chrono::milliseconds kQueryLimit{60'000};

// The file list of a product with a few thousand files takes a few hundred KiB; a larger answer
// is not one the database gives for a product of ours.
constexpr std::size_t kMaxQueryOutputBytes = 8 * 1024 * 1024;

// Fields of the database's record that describe the installation, not the package: they have no
// place in a package's control file.
constexpr std::string_view kInstallationFields[] = {"Status", "Config-Version", "Conffiles"};

std::optional<CapturedRun> query(const std::vector<std::string>& options,
                                 const std::vector<std::string>& request, std::string* err) {
  std::vector<std::string> args = options;
  args.insert(args.end(), request.begin(), request.end());
  return runCapturing("dpkg-query", args, kMaxQueryOutputBytes, kQueryLimit, err);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) {
      result.push_back(line);
    }
  }
  return result;
}

bool isInstallationField(std::string_view line) {
  for (std::string_view field : kInstallationFields) {
    if (line.size() > field.size() && line.substr(0, field.size()) == field &&
        line[field.size()] == ':') {
      return true;
    }
  }
  return false;
}

// The control file of the installed package: the database's record without the fields (and
// their continuation lines) that describe the installation.
std::string controlFromRecord(const std::string& record) {
  std::string control;
  bool skipping = false;
  for (const std::string& line : lines(record)) {
    const bool continuation = line[0] == ' ' || line[0] == '\t';
    if (!continuation) {
      skipping = isInstallationField(line);
    }
    if (!skipping) {
      control += line + "\n";
    }
  }
  return control;
}

// Copies one path the product installed into the staging tree; a path that is gone is left out.
bool stagePath(const std::string& source, const std::string& target, std::string* err) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(source, ec);
  if (ec || !fs::exists(status)) {
    return true;
  }
  if (fs::is_directory(status)) {
    fs::create_directories(target, ec);
  } else if (fs::is_symlink(status)) {
    fs::create_symlink(fs::read_symlink(source, ec), target, ec);
  } else if (fs::is_regular_file(status)) {
    fs::copy_file(source, target, ec);
  } else {
    return true;  // the package tools never install devices or sockets for us
  }
  if (!ec && !fs::is_symlink(status)) {
    fs::permissions(target, status.permissions(), ec);
  }
  return ec ? fail(err, "copy " + source + ": " + ec.message()) : true;
}

// A fresh folder for the staging tree beside `destination`.
std::string makeStagingFolder(const std::string& destination, std::string* err) {
  std::string pattern = destination + ".stage.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    failWithErrno("mkdtemp " + pattern, err);
    return {};
  }
  // The tree's root becomes the package's "./", which must not look private.
  std::error_code ec;
  fs::permissions(pattern, fs::perms(0755), ec);
  return pattern;
}

bool writeText(const std::string& path, const std::string& text, std::string* err) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return out ? true : fail(err, "write " + path + ": failed");
}

}  // namespace

InstallerDatabase InstallerDatabase::fromEnvironment() {
  const char* root = std::getenv(kInstallerRootVariable);
  return InstallerDatabase(root != nullptr ? root : "");
}

InstallerDatabase::InstallerDatabase(std::string root) : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') {
    root_.pop_back();
  }
}

std::vector<std::string> InstallerDatabase::queryOptions() const {
  if (root_.empty()) {
    return {};
  }
  return {"--root=" + root_};
}

std::vector<std::string> InstallerDatabase::installOptions() const {
  if (root_.empty()) {
    return {};
  }
  // A private root holds no programs to chroot into: the maintainer scripts run here and find
  // the root in DPKG_ROOT. The machine's own log is no place for a private root's changes.
  return {"--root=" + root_, "--force-script-chrootless", "--log=/dev/null"};
}

bool InstallerDatabase::isRegistered(const std::string& product) const {
  const auto run = query(queryOptions(), {"-W", "-f=${db:Status-Status}", product}, nullptr);
  if (!run || run->status != 0) {
    return false;
  }
  return !run->output.empty() && run->output != "not-installed" && run->output != "config-files";
}

std::vector<std::string> InstallerDatabase::installedPaths(const std::string& product) const {
  const auto run = query(queryOptions(), {"-L", product}, nullptr);
  if (!run || run->status != 0) {
    return {};
  }
  std::vector<std::string> paths;
  for (const std::string& line : lines(run->output)) {
    // Lines about diversions name no installed path; "/." is the root itself.
    if (line[0] == '/' && line != "/.") {
      paths.push_back(line);
    }
  }
  return paths;
}

std::string InstallerDatabase::onDisk(const std::string& path) const {
  return root_ + path;
}

int InstallerDatabase::uninstall(const std::string& product) const {
  std::vector<std::string> args = installOptions();
  args.insert(args.end(), {"--remove", product});
  return runAndWait("dpkg", args, "", nullptr).value_or(-1);
}

int InstallerDatabase::install(const std::string& packagePath) const {
  std::vector<std::string> args = installOptions();
  args.insert(args.end(), {"--install", packagePath});
  return runAndWait("dpkg", args, "", nullptr).value_or(-1);
}

bool InstallerDatabase::saveInstalledPackage(const std::string& product,
                                             const std::string& destination,
                                             std::string* err) const {
  const auto record = query(queryOptions(), {"-s", product}, err);
  const auto members = query(queryOptions(), {"--control-list", product}, err);
  if (!record || !members) {
    return false;
  }
  if (record->status != 0 || members->status != 0) {
    return fail(err, product + " is not installed");
  }
  const std::string stage = makeStagingFolder(destination, err);
  if (stage.empty()) {
    return false;
  }
  const auto cleanUp = [&stage] {
    std::error_code ec;
    fs::remove_all(stage, ec);
  };
  bool staged = true;
  for (const std::string& path : installedPaths(product)) {
    staged = staged && stagePath(onDisk(path), stage + path, err);
  }
  fs::create_directories(stage + "/DEBIAN");
  staged = staged && writeText(stage + "/DEBIAN/control", controlFromRecord(record->output), err);
  for (const std::string& member : lines(members->output)) {
    const auto where = query(queryOptions(), {"--control-path", product, member}, err);
    if (!where || where->status != 0) {
      staged = false;
      break;
    }
    const std::string source = lines(where->output).empty() ? "" : lines(where->output)[0];
    staged = staged && stagePath(source, stage + "/DEBIAN/" + member, err);
  }
  if (!staged) {
    cleanUp();
    return false;
  }
  const auto built = runCapturing("dpkg-deb", {"--root-owner-group", "--build", stage, destination},
                                  kMaxQueryOutputBytes, kQueryLimit, err);
  cleanUp();
  if (!built || built->status != 0) {
    std::error_code ec;
    fs::remove(destination, ec);
    return fail(err, "dpkg-deb could not build " + destination);
  }
  return true;
}

}  // namespace korvane::platform
