#include "support/VirtualFileSystem.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

void VirtualFileSystem::create(const std::string& path, const Bytes& data, FileKind kind) {
  names[path] = newInode(kind, data);
}

void VirtualFileSystem::makeDirectory(const std::string& path, bool writable) {
  directories[path] = writable;
  names[path] = newInode(FileKind::Directory, {});
}

void VirtualFileSystem::link(const std::string& existing, const std::string& path) {
  names[path] = names.at(existing);
}

void VirtualFileSystem::symlink(const std::string& target, const std::string& path) {
  links[path] = target;
}

void VirtualFileSystem::setPermissions(const std::string& path, std::uint32_t permissions) {
  files.at(names.at(follow(path))).permissions = permissions;
}

void VirtualFileSystem::giveAway(const std::string& path) {
  files.at(names.at(follow(path))).owner = 1;
}

bool VirtualFileSystem::holds(const std::string& path) const { return inodeAt(path) != nullptr; }

const VirtualFileSystem::Bytes& VirtualFileSystem::contents(const std::string& path) const {
  const std::uint64_t* inode = inodeAt(path);
  if (inode == nullptr) throw std::logic_error("no file " + path);
  return files.at(*inode).data;
}

std::uint32_t VirtualFileSystem::permissionsOf(const std::string& path) const {
  return files.at(*inodeAt(path)).permissions;
}

std::vector<std::string> VirtualFileSystem::paths() const {
  std::vector<std::string> all;
  for (const auto& [path, inode] : names) all.push_back(path);
  for (const auto& [path, target] : links) all.push_back(path);
  std::sort(all.begin(), all.end());
  return all;
}

std::size_t VirtualFileSystem::writeOpens(const std::string& path) const {
  const std::uint64_t* inode = inodeAt(path);
  return static_cast<std::size_t>(
      std::count_if(descriptors.begin(), descriptors.end(), [&](const Descriptor& descriptor) {
        return inode != nullptr && descriptor.inode == *inode && descriptor.forWriting;
      }));
}

bool VirtualFileSystem::allClosed() const {
  return std::none_of(descriptors.begin(), descriptors.end(),
                      [](const Descriptor& descriptor) { return descriptor.open; });
}

bool VirtualFileSystem::fails(Operation operation) {
  if (beforeEach) beforeEach(operation);
  ++callCounts[operation];
  if (successCounts[operation] >= failAfter[operation]) return true;
  ++successCounts[operation];
  return false;
}

std::string VirtualFileSystem::follow(const std::string& path) const {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    const auto link = links.find(current);
    if (link == links.end()) return current;
    current = link->second;
  }
  return current;
}

const std::uint64_t* VirtualFileSystem::inodeAt(const std::string& path) const {
  const auto found = names.find(follow(path));
  return found == names.end() ? nullptr : &found->second;
}

std::uint64_t VirtualFileSystem::newInode(FileKind kind, const Bytes& data) {
  files[nextInode] = File{kind, data, kind == FileKind::Directory ? 0755U : 0644U};
  return nextInode++;
}

int VirtualFileSystem::openDescriptor(std::uint64_t inode, bool forWriting,
                                      const std::string& directory) {
  descriptors.push_back(Descriptor{inode, forWriting, 0, true, directory});
  return static_cast<int>(descriptors.size()) - 1;
}

VirtualFileSystem::Descriptor* VirtualFileSystem::find(int descriptor) {
  const auto index = static_cast<std::size_t>(descriptor);
  if (descriptor < 0 || index >= descriptors.size() || !descriptors[index].open) {
    throw std::logic_error("use of a descriptor that is not open");
  }
  return &descriptors[index];
}

FileIdentity VirtualFileSystem::identityOf(std::uint64_t inode) const {
  FileIdentity identity;
  const File& file = files.at(inode);
  identity.kind = file.kind;
  identity.device = 1;
  identity.inode = inode;
  identity.linkCount = static_cast<std::uint64_t>(std::count_if(
      names.begin(), names.end(), [inode](const auto& name) { return name.second == inode; }));
  identity.permissions = file.permissions;
  identity.owner = file.owner;
  return identity;
}

bool VirtualFileSystem::mayCreateIn(const std::string& path) const {
  const auto directory = directories.find(directoryOf(path));
  return directory == directories.end() || directory->second;
}

bool VirtualFileSystem::isAppendOnly(const std::string& path) const {
  return std::find(appendOnly.begin(), appendOnly.end(), directoryOf(path)) != appendOnly.end();
}

int VirtualFileSystem::openInput(const char* path) {
  const std::uint64_t* inode = inodeAt(path);
  if (fails(OpenInput) || inode == nullptr) return -1;
  return openDescriptor(*inode, false);
}

bool VirtualFileSystem::identify(int descriptor, FileIdentity& identity) {
  const std::uint64_t inode = find(descriptor)->inode;
  if (fails(Identify)) return false;
  identity = identityOf(inode);
  return true;
}

bool VirtualFileSystem::identifyPath(const char* path, FileIdentity& identity) {
  const std::uint64_t* inode = inodeAt(path);
  if (fails(IdentifyPath) || inode == nullptr) return false;
  identity = identityOf(*inode);
  return true;
}

bool VirtualFileSystem::measure(int descriptor, std::uint64_t& size) {
  Descriptor* open = find(descriptor);
  const File& file = files.at(open->inode);
  if (fails(Measure) || (measureOnlyRegular && file.kind != FileKind::Regular)) return false;
  size = file.data.size() + measureExtra;
  open->position = 0;
  return true;
}

std::int64_t VirtualFileSystem::read(int descriptor, void* buffer, std::size_t count) {
  Descriptor* open = find(descriptor);
  if (open->forWriting) throw std::logic_error("read from a file opened for writing");
  if (fails(Read)) return -1;
  const Bytes& data = files.at(open->inode).data;
  std::size_t got = std::min(count, data.size() - std::min(open->position, data.size()));
  if (readChunk > 0) got = std::min(got, readChunk);
  if (got > 0) std::memcpy(buffer, data.data() + open->position, got);
  open->position += got;
  return static_cast<std::int64_t>(got);
}

int VirtualFileSystem::openSpecial(const char* path) {
  mustNotWait();
  const std::uint64_t* inode = inodeAt(path);
  if (fails(OpenSpecial) || inode == nullptr) return -1;
  return openDescriptor(*inode, true);
}

// Links are followed one at a time from the directory that holds them; a
// number in /dev/fd is a descriptor the program holds.
int VirtualFileSystem::openDirectoryOf(const char* path, PathBuffer& name, int& held) {
  held = -1;
  std::string current = path;
  if (fails(OpenDirectory)) return -1;
  for (int followed = 0; followed <= 40; ++followed) {
    const std::size_t slash = current.rfind('/');
    const std::string last = slash == std::string::npos ? current : current.substr(slash + 1);
    const std::string directory = directoryOf(current);
    if (directory == "/dev/fd" && !last.empty() &&
        last.find_first_not_of("0123456789") == std::string::npos) {
      held = std::stoi(last);
      return -1;
    }
    const auto link = links.find(current);
    if (link == links.end()) {
      const bool dangling = followed > 0 && names.count(current) == 0;
      if (last.empty() || last == "." || last.size() > longestName || dangling ||
          !name.assign(last.c_str())) {
        return -1;
      }
      return openDescriptor(0, false, directory);
    }
    const std::string& target = link->second;
    current = target.starts_with('/') || directory.empty() ? target : directory + "/" + target;
  }
  return -1;
}

int VirtualFileSystem::duplicate(int number) {
  const auto found = held.find(number);
  if (fails(Duplicate) || found == held.end()) return -1;
  return openDescriptor(names.at(found->second), true);
}

std::string VirtualFileSystem::pathAt(int directory, const char* name) {
  const std::string& where = find(directory)->directory;
  return where.empty() ? name : where + "/" + name;
}

void VirtualFileSystem::mustNotWait() const {
  if (interruptionsHeld) throw std::logic_error("a wait while interruptions are held");
}

bool VirtualFileSystem::identifyAt(int directory, const char* name, FileIdentity& identity) {
  const std::string path = pathAt(directory, name);
  if (fails(IdentifyAt)) {
    identity = FileIdentity{};  // something there that cannot be looked at
    return true;
  }
  const auto found = names.find(path);
  if (found != names.end()) {
    identity = identityOf(found->second);
    return true;
  }
  identity = FileIdentity{};  // a symbolic link, which is of no kind of its own
  return links.count(path) != 0;
}

int VirtualFileSystem::lookAt(int directory, const char* name) {
  if (busyOpens > 0) {
    --busyOpens;
    return busyDescriptor;
  }
  const auto found = names.find(pathAt(directory, name));
  if (fails(LookAt) || found == names.end()) return -1;
  return openDescriptor(found->second, false);
}

bool VirtualFileSystem::mayWrite(int directory, const char* name) {
  const auto found = names.find(pathAt(directory, name));
  return !fails(MayWrite) && found != names.end() &&
         (files.at(found->second).permissions & 0200U) != 0;
}

int VirtualFileSystem::openExisting(int directory, const char* name, bool wait) {
  if (wait) mustNotWait();
  if (!wait && busyOpens > 0) {
    --busyOpens;
    return busyDescriptor;
  }
  const auto found = names.find(pathAt(directory, name));
  if (fails(OpenExisting) || found == names.end() ||
      (files.at(found->second).permissions & 0200U) == 0) {
    return -1;
  }
  return openDescriptor(found->second, true);
}

Locking VirtualFileSystem::tryLock(int descriptor) {
  mustNotWait();
  find(descriptor);
  if (busyLocks > 0) {
    --busyLocks;
    ++callCounts[Lock];
    return Locking::Busy;
  }
  return fails(Lock) ? Locking::Failed : Locking::Locked;
}

int VirtualFileSystem::createTemporary(int directory, PathBuffer& name, bool& refused) {
  if (!interruptionsHeld) throw std::logic_error("a temporary file made while interruptions pass");
  const std::string leaf = ".reelmake-" + std::to_string(++temporaryCount);
  const std::string temporary = pathAt(directory, leaf.c_str());
  if (fails(CreateTemporary) || !name.assign(leaf.c_str())) return -1;
  if (!mayCreateIn(temporary)) {
    refused = true;
    return -1;
  }
  create(temporary, {});
  files.at(names.at(temporary)).permissions = 0600;
  return openDescriptor(names.at(temporary), true);
}

int VirtualFileSystem::createNew(int directory, const char* name) {
  if (!interruptionsHeld) throw std::logic_error("a new file made while interruptions pass");
  const std::string path = pathAt(directory, name);
  if (fails(CreateNew) || !mayCreateIn(path) || names.count(path) != 0 || links.count(path) != 0) {
    return -1;
  }
  create(path, {});
  files.at(names.at(path)).permissions = 0600;
  return openDescriptor(names.at(path), true);
}

bool VirtualFileSystem::copyOwner(int descriptor, int original) {
  const std::uint64_t inode = find(descriptor)->inode;
  const std::uint32_t owner = files.at(find(original)->inode).owner;
  return !fails(CopyOwner) && owner == files.at(inode).owner;
}

bool VirtualFileSystem::setFinalPermissions(int descriptor, int directory, int original) {
  find(directory);
  const std::uint64_t inode = find(descriptor)->inode;
  if (fails(SetFinalPermissions)) return false;
  files.at(inode).permissions =
      original >= 0 ? files.at(find(original)->inode).permissions : 0666U & ~umask;
  return true;
}

bool VirtualFileSystem::truncate(int descriptor) {
  const std::uint64_t inode = find(descriptor)->inode;
  if (fails(Truncate)) return false;
  files.at(inode).data.clear();
  return true;
}

std::int64_t VirtualFileSystem::write(int descriptor, const void* data, std::size_t count) {
  Descriptor* open = find(descriptor);
  if (!open->forWriting) throw std::logic_error("write to a file opened for reading");
  if (writeChunk > 0) count = std::min(count, writeChunk);
  if (writeLimit >= 0) {
    count = std::min(
        count, static_cast<std::size_t>(std::max<std::int64_t>(writeLimit - bytesWritten, 0)));
  }
  if (count == 0) return 0;  // a full device takes nothing
  if (fails(Write)) return -1;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  Bytes& target = files.at(open->inode).data;
  target.insert(target.end(), bytes, bytes + count);
  bytesWritten += static_cast<std::int64_t>(count);
  return static_cast<std::int64_t>(count);
}

bool VirtualFileSystem::close(int descriptor) {
  find(descriptor)->open = false;
  return !fails(Close);
}

Placing VirtualFileSystem::putInPlace(int descriptor, int directory, const char* from,
                                      const FileIdentity& identity, const char* to) {
  find(descriptor);
  if (busyPlacings > 0) {
    --busyPlacings;
    ++callCounts[PutInPlace];
    return Placing::Busy;
  }
  const std::string target = pathAt(directory, to);
  Placing placed = Placing::Failed;
  if (close(descriptor) && !fails(PutInPlace)) {
    const bool mounted =
        std::find(mountPoints.begin(), mountPoints.end(), target) != mountPoints.end();
    placed = isAppendOnly(target) ? Placing::Refused
             : mounted            ? Placing::MountPoint
                                  : Placing::Done;
  }
  if (placed == Placing::Refused) return placed;
  if (placed != Placing::Done) {
    removeIfSame(directory, from, identity);
    return placed;
  }
  const std::string source = pathAt(directory, from);
  const std::uint64_t inode = names.at(source);
  names.erase(source);
  links.erase(target);
  names[target] = inode;
  return placed;
}

bool VirtualFileSystem::removeIfSame(int directory, const char* name,
                                     const FileIdentity& identity) {
  const std::string path = pathAt(directory, name);
  const auto found = names.find(path);
  if (fails(RemoveIfSame) || found == names.end() || found->second != identity.inode ||
      std::find(mountPoints.begin(), mountPoints.end(), path) != mountPoints.end() ||
      isAppendOnly(path)) {
    return false;
  }
  names.erase(found);
  return true;
}

void VirtualFileSystem::moveDirectory(const std::string& from, const std::string& to) {
  const auto moved = [&](const std::string& path) {
    return path == from                                        ? to
           : path.compare(0, from.size() + 1, from + "/") == 0 ? to + path.substr(from.size())
                                                               : path;
  };
  const auto rename = [&](auto& map) {
    std::remove_reference_t<decltype(map)> renamed;
    for (auto& [path, value] : map) renamed[moved(path)] = value;
    map = std::move(renamed);
  };
  rename(names);
  rename(links);
  rename(directories);
  for (Descriptor& descriptor : descriptors) {
    if (descriptor.open && descriptor.inode == 0)
      descriptor.directory = moved(descriptor.directory);
  }
}
