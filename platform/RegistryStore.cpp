#include "platform/RegistryStore.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "platform/AtomicFile.h"
#include "platform/DefaultRegistry.h"
#include "platform/HiveLock.h"
#include "platform/KernelObjects.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/SecurityDescriptor.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/hive/HiveFile.h"

namespace platform::registry {

namespace {

using hive::HiveError;
using hive::HiveFile;
using hive::KeyId;
using hive::ValueId;
using Clock = std::chrono::steady_clock;

// A changed hive is written this long after its first unsaved change (Windows
// writes lazily too); RegFlushKey, unloading and exit write at once.
constexpr auto kLazyFlushDelay = std::chrono::milliseconds(1000);
// Bounds on work driven by hive content.
constexpr std::size_t kMaxPathDepth = 512;
constexpr std::size_t kMaxDiffKeys = 200000;

bool nameEq(std::u16string_view a, std::u16string_view b) { return hive::compareKeyNames(a, b) == 0; }

bool pathEq(const Path& a, const Path& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!nameEq(a[i], b[i])) return false;
  return true;
}

bool pathHasPrefix(const Path& p, const Path& prefix) {
  if (prefix.size() > p.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (!nameEq(p[i], prefix[i])) return false;
  return true;
}

struct PathLess {
  bool operator()(const Path& a, const Path& b) const {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
      int c = hive::compareKeyNames(a[i], b[i]);
      if (c != 0) return c < 0;
    }
    return a.size() < b.size();
  }
};

std::uint64_t nowFileTime() {
  using namespace std::chrono;
  // 100 ns ticks between 1601-01-01 and 1970-01-01.
  constexpr std::uint64_t kEpochDelta = 116444736000000000ull;
  auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return kEpochDelta + std::uint64_t(ns / 100);
}

LSTATUS fromHiveError(HiveError e) {
  switch (e) {
    case HiveError::None: return ERROR_SUCCESS;
    case HiveError::NotFound: return ERROR_FILE_NOT_FOUND;
    case HiveError::AlreadyExists: return ERROR_ALREADY_EXISTS;
    case HiveError::HasSubkeys: return ERROR_ACCESS_DENIED;
    case HiveError::NotAHive: return ERROR_BADDB;
    case HiveError::Corrupt: return ERROR_BADDB;
    case HiveError::ReadOnly: return ERROR_ACCESS_DENIED;
    case HiveError::InvalidArgument: return ERROR_INVALID_PARAMETER;
    case HiveError::TooLarge: return ERROR_NO_SYSTEM_RESOURCES;
    case HiveError::IoError: return ERROR_REGISTRY_IO_FAILED;
    case HiveError::OutOfMemory: return ERROR_OUTOFMEMORY;
  }
  return ERROR_INVALID_PARAMETER;
}

// ---- the 32-bit view of HKLM\SOFTWARE

// Keys below HKLM\SOFTWARE that both views share (relative to SOFTWARE).
const std::vector<Path>& sharedSoftwareKeys() {
  static const std::vector<Path> keys = [] {
    const char* list[] = {
        "Clients",
        "Microsoft\\COM3",
        "Microsoft\\Cryptography\\Calais\\Current",
        "Microsoft\\Cryptography\\Calais\\Readers",
        "Microsoft\\Cryptography\\Services",
        "Microsoft\\CTF\\SystemShared",
        "Microsoft\\CTF\\TIP",
        "Microsoft\\DFS",
        "Microsoft\\Driver Signing",
        "Microsoft\\EnterpriseCertificates",
        "Microsoft\\EventSystem",
        "Microsoft\\MSMQ",
        "Microsoft\\Non-Driver Signing",
        "Microsoft\\Notepad\\DefaultFonts",
        "Microsoft\\OLE",
        "Microsoft\\RAS",
        "Microsoft\\RPC",
        "Microsoft\\Shared Tools\\MSInfo",
        "Microsoft\\SystemCertificates",
        "Microsoft\\TermServLicensing",
        "Microsoft\\Transaction Server",
        "Microsoft\\Windows\\CurrentVersion\\App Paths",
        "Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
        "Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
        "Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
        "Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
        "Microsoft\\Windows\\CurrentVersion\\Group Policy",
        "Microsoft\\Windows\\CurrentVersion\\Policies",
        "Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
        "Microsoft\\Windows\\CurrentVersion\\Setup",
        "Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations",
        "Microsoft\\Windows NT\\CurrentVersion\\Console",
        "Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
        "Microsoft\\Windows NT\\CurrentVersion\\FontLink",
        "Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
        "Microsoft\\Windows NT\\CurrentVersion\\Fonts",
        "Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
        "Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
        "Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
        "Microsoft\\Windows NT\\CurrentVersion\\LanguagePack",
        "Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
        "Microsoft\\Windows NT\\CurrentVersion\\Perflib",
        "Microsoft\\Windows NT\\CurrentVersion\\Ports",
        "Microsoft\\Windows NT\\CurrentVersion\\Print",
        "Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
        "Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
        "Policies",
        "RegisteredApplications",
    };
    std::vector<Path> out;
    for (const char* s : list) out.push_back(splitKeyPath(asciiToWide(s)));
    return out;
  }();
  return keys;
}

// Sub-trees of the shared Classes key that each view keeps apart.
const std::vector<std::u16string>& redirectedClassesKeys() {
  static const std::vector<std::u16string> keys = {u"CLSID", u"DirectShow", u"Interface", u"Media Type",
                                                   u"MediaFoundation"};
  return keys;
}

const std::u16string kWow6432Node = u"Wow6432Node";

// Where a path below HKLM\SOFTWARE lies in the 32-bit view.
Path redirect32(const Path& p) {
  if (!p.empty() && nameEq(p[0], kWow6432Node)) return p;
  if (!p.empty() && nameEq(p[0], u"Classes")) {
    if (p.size() >= 2 && nameEq(p[1], kWow6432Node)) return p;
    if (p.size() >= 2) {
      for (const auto& k : redirectedClassesKeys()) {
        if (nameEq(p[1], k)) {
          Path out{p[0], kWow6432Node};
          out.insert(out.end(), p.begin() + 1, p.end());
          return out;
        }
      }
    }
    return p;
  }
  for (const Path& shared : sharedSoftwareKeys())
    if (pathHasPrefix(p, shared)) return p;
  Path out{kWow6432Node};
  out.insert(out.end(), p.begin(), p.end());
  return out;
}

// ---- the model

enum class Master { None, Machine, Users, Perf };

struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  std::int64_t mtimeNs = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

FileStamp stampOf(const std::filesystem::path& p) {
  FileStamp s;
  struct stat st = {};
  if (::stat(p.c_str(), &st) == 0) {
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  return s;
}

// A change made in this process to a shared hive, kept until the hive is
// saved: when another process saved the file meanwhile, the file is read
// again and these are applied on top, so both processes keep their changes.
enum class OpKind { CreateKey, DeleteKey, SetValue, DeleteValue, SetClass, SetSecurity };
struct JournalOp {
  OpKind kind;
  Path path;
  std::u16string name;
  DWORD type = 0;
  std::vector<std::uint8_t> data;
};

struct Hive {
  Master master = Master::None;
  std::u16string mountName;
  // The file itself, every link resolved (once, at mount): it is read,
  // locked and saved there, since a save through a link would replace the
  // link with a plain file and leave the hive as it was. Empty when the hive
  // lives in memory only.
  std::filesystem::path path;
  std::filesystem::path given;  // the name the caller gave: what is shown
  std::unique_ptr<HiveFile> file;
  // Volatile keys: a hive in memory that is never saved. A volatile key
  // under a stable parent hangs below an anchor key standing for that
  // parent's path; volatile keys below volatile keys are plain children.
  std::unique_ptr<HiveFile> shadow;
  std::map<Path, KeyId, PathLess> anchors;
  std::uint32_t anchorCounter = 0;
  bool shared = false;  // default registry: other processes use it too
  // Whether opens weigh the keys' own descriptors. The default registry is
  // the machine's and always checked; a hive file mounted from a disk or an
  // image is the user's file and unchecked unless the user asks for it.
  bool accessChecks = true;
  // The file's owner (or root) reads every key even while checks are on,
  // as a backup-intent open would on its Windows.
  bool ownerReads = false;
  HiveReadOnlyReason readOnlyReason = HiveReadOnlyReason::None;
  bool machineSoftware = false;
  bool machineSystem = false;
  HiveLock lock;
  FileStamp stamp;
  std::vector<JournalOp> journal;
  bool dirty = false;
  Clock::time_point dirtySince;
  std::uint64_t generation = 1;  // bumped when the file is read again (ids change)
};

struct Node {
  bool vol = false;
  KeyId id = 0;
};

struct Child {
  std::u16string name;
  Node node;
  bool link = false;  // CurrentControlSet
};

struct Watch {
  std::shared_ptr<void> event;
  bool subtree = false;
  DWORD filter = 0;
};

struct KeyHandle {
  Master master = Master::None;  // set for a handle to a master key itself
  std::shared_ptr<Hive> hive;
  Path logical;   // below the hive root, as asked for (before view and links)
  Path physical;  // below the hive root, where the key really is
  // Set when the key is where its name says (no link, no view redirection on
  // the way): `logical` is then left empty and `physical` stands for it.
  bool logicalIsPhysical = false;
  const Path& logicalPath() const { return logicalIsPhysical ? physical : logical; }
  Node node;
  std::uint64_t generation = 0;
  REGSAM access = 0;
  bool view32 = false;
  bool deleted = false;
  std::optional<Watch> watch;
  std::uint64_t childStamp = 0;
  bool childCacheValid = false;
  std::vector<Child> childCache;
  // The key's value ids, read once per state of the store: enumerating by
  // index would otherwise read the whole value list for every value.
  std::uint64_t valueStamp = 0;
  bool valueCacheValid = false;
  std::vector<ValueId> valueCache;
  std::size_t childHint = 0;  // the child cache entry a sub-key open tries first
};

REGSAM mapGenericAccess(REGSAM access) {
  REGSAM out = access & ~(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | MAXIMUM_ALLOWED);
  if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) out |= KEY_ALL_ACCESS;
  if (access & (GENERIC_READ | GENERIC_EXECUTE)) out |= KEY_READ;
  if (access & GENERIC_WRITE) out |= KEY_WRITE;
  return out;
}

sd::Bytes sidBytes(const char* text) { return sd::sidFromString(text).value_or(sd::Bytes{}); }

// The descriptor the master keys answer with: administrators and SYSTEM own
// them, everyone may read.
const std::vector<std::uint8_t>& masterKeyDescriptor() {
  static const std::vector<std::uint8_t> descriptor = [] {
    sd::Parts p;
    p.control = sd::SE_DACL_PROTECTED;
    p.owner = sidBytes("S-1-5-32-544");
    p.group = sidBytes("S-1-5-18");
    p.dacl = sd::buildAcl({
        {sd::ACCESS_ALLOWED_ACE_TYPE, sd::CONTAINER_INHERIT_ACE, KEY_READ, sidBytes("S-1-1-0")},
        {sd::ACCESS_ALLOWED_ACE_TYPE, sd::CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, sidBytes("S-1-5-18")},
        {sd::ACCESS_ALLOWED_ACE_TYPE, sd::CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, sidBytes("S-1-5-32-544")},
    });
    return sd::compose(p);
  }();
  return descriptor;
}

// Reads a key's descriptor for grantedAccess.
struct DescriptorReader {
  const HiveFile& file;
  KeyId key;
  LSTATUS operator()(std::vector<std::uint8_t>& out) const {
    auto sec = file.security(key);
    if (!sec) return fromHiveError(sec.error());
    out = std::move(sec.value());
    return ERROR_SUCCESS;
  }
};

// The descriptor of a key made below one with `parentSd` without a
// descriptor of its own: what it inherits, owned by the token's owner and
// primary group; where nothing is inherited, the token's default DACL
// (administrators and SYSTEM may do all).
std::vector<std::uint8_t> inheritedDescriptor(std::span<const std::uint8_t> parentSd) {
  static const std::vector<sd::Ace> defaultDacl = {
      {sd::ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, sidBytes("S-1-5-32-544")},
      {sd::ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, sidBytes("S-1-5-18")},
  };
  static const sd::Bytes owner = tokenOwnerSid();
  static const sd::Bytes group = tokenPrimaryGroupSid();
  const sd::Parts parent = sd::parse(parentSd).value_or(sd::Parts{});
  return sd::inherit(parent, owner, group, defaultDacl, sd::kKeyMapping);
}

// The rights a key with `descriptor` grants this process for `desired`
// (view flags already removed), or the failure: ERROR_ACCESS_DENIED when the
// DACL refuses a right, ERROR_PRIVILEGE_NOT_HELD for the SACL right (the
// token never holds the security privilege). An enabled backup privilege
// grants reading whatever the DACL says, as a backup-intent open does.
// The descriptor is read only when the privilege alone does not settle it.
// `hive` (none for the master keys) says whether its descriptors count at all
// and whether its file's owner reads everything.
template <class ReadDescriptor>
LSTATUS grantedAccess(ReadDescriptor&& readDescriptor, REGSAM desired, REGSAM* granted, const Hive* hive = nullptr) {
  if (desired & ACCESS_SYSTEM_SECURITY) return ERROR_PRIVILEGE_NOT_HELD;
  const bool maximum = (desired & MAXIMUM_ALLOWED) != 0;
  const REGSAM wanted = sd::mapGeneric(desired & ~MAXIMUM_ALLOWED, sd::kKeyMapping);
  if (hive && !hive->accessChecks) {
    *granted = wanted | (maximum ? KEY_ALL_ACCESS : REGSAM(0));
    return ERROR_SUCCESS;
  }
  const bool readsAll = processPrivilegeEnabled(SE_BACKUP_NAME) || (hive && hive->ownerReads);
  const REGSAM byPrivilege = readsAll ? (maximum ? KEY_READ : wanted & KEY_READ) : REGSAM(0);
  const REGSAM rest = wanted & ~byPrivilege;
  if (rest == 0 && !maximum) {
    *granted = wanted;
    return ERROR_SUCCESS;
  }
  static const std::vector<sd::Bytes> sids = tokenSids();
  std::vector<std::uint8_t> descriptor;
  if (const LSTATUS rc = readDescriptor(descriptor); rc != ERROR_SUCCESS) return rc;
  auto parts = sd::parse(descriptor);
  std::optional<std::uint32_t> g;
  if (parts) g = sd::accessCheck(*parts, sids, rest | (maximum ? MAXIMUM_ALLOWED : 0), sd::kKeyMapping);
  if (!g) {
    if (maximum && rest == 0 && byPrivilege != 0) {
      *granted = byPrivilege;
      return ERROR_SUCCESS;
    }
    return ERROR_ACCESS_DENIED;
  }
  *granted = *g | byPrivilege;
  return ERROR_SUCCESS;
}

class Store {
public:
  std::recursive_mutex mutex;

  // ---- lifecycle
  LSTATUS ensureOpen();
  void shutdown();
  std::filesystem::path folder() const { return folder_; }

  // ---- handles and resolution
  struct Base {
    Master master = Master::None;
    std::shared_ptr<Hive> hive;
    Path logical;
    bool view32Default = false;
    // When the base is an open handle: that handle. Its logical path stands
    // for `logical`, which is then left empty.
    KeyHandle* handle = nullptr;
    const Path& logicalPath() const { return handle ? handle->logicalPath() : logical; }
  };
  LSTATUS baseOf(HKEY key, Base* base);
  KeyHandle* handleOf(HKEY key);
  LSTATUS liveHandle(HKEY key, KeyHandle** out, REGSAM need);  // predefined roots become transient handles
  LSTATUS open(const Base& base, const Path& sub, const OpenRequest& req, HKEY* result, DWORD* disposition);
  LSTATUS openTransient(HKEY key, KeyHandle& out);
  HKEY addHandle(KeyHandle h);
  LSTATUS close(HKEY key);
  LSTATUS removeHandleKey(KeyHandle& h);
  // The handle that carries the watches armed on each predefined root, made on
  // the first watch and re-armed after that, so watching a root in a loop does
  // not grow the handle table.
  std::unordered_map<std::uint32_t, HKEY> rootWatchHandles;
  std::size_t handleCount() const { return handles_.size(); }

  // ---- nodes
  HiveFile& fileOf(Hive& h, Node n) { return n.vol ? *h.shadow : *h.file; }
  std::optional<std::u16string> controlSetName(Hive& h);
  std::optional<Child> findChild(Hive& h, const Path& parentPhys, Node parent, std::u16string_view name);
  std::optional<Node> walk(Hive& h, const Path& phys, Path* actual);
  std::vector<Child> children(Hive& h, const Path& phys, Node node);
  std::vector<Child>& childrenOf(KeyHandle& kh);
  std::optional<Node> listedChild(KeyHandle& parent, std::u16string_view name);
  // The key's value ids in stored order, valid until the next change.
  HiveError valuesOf(KeyHandle& kh, const std::vector<ValueId>** out);
  LSTATUS createChild(Hive& h, const Path& parentPhys, Node parent, const std::u16string& name,
                      const OpenRequest& req, Node* created);
  bool refresh(KeyHandle& kh);  // re-resolves after a reload; false when the key is gone

  // ---- changes
  void changed(Hive& h, const Path& phys, DWORD filterBit);
  void changedMaster(Master m);
  void journal(Hive& h, JournalOp op);
  void markDeleted(Hive& h, const Path& phys);
  void touch(Hive& h, Node n);

  // ---- persistence
  LSTATUS save(Hive& h);
  void reloadFromDisk(Hive& h);
  // reloadFromDisk when the file is not the one this store last read or saved.
  void reloadIfSavedElsewhere(Hive& h);
  void applyJournal(Hive& h);
  void fireDiffs(Hive& h, HiveFile& before);
  void externalChange(const std::filesystem::path& dir, const std::string& fileName);
  void flushDue();

  // ---- mounts
  std::shared_ptr<Hive> findMount(Master m, std::u16string_view name);
  std::vector<std::shared_ptr<Hive>> mountsOf(Master m);
  LSTATUS mount(Master m, const std::u16string& name, const std::filesystem::path& file, bool shared,
                std::shared_ptr<Hive>* out);
  LSTATUS unmount(Master m, std::u16string_view name);

  std::string userSid;
  std::uint64_t changeCounter = 1;
  std::uint64_t openedAt = 0;

private:
  void serviceLoop();
  void watchFolder(const std::filesystem::path& dir);

  bool open_ = false;
  std::filesystem::path folder_;
  std::vector<std::shared_ptr<Hive>> mounts_;
  std::map<std::uintptr_t, KeyHandle> handles_;
  std::thread service_;
  std::atomic<bool> stop_{false};
  int inotifyFd_ = -1;
  int wakeFd_ = -1;
  std::map<int, std::filesystem::path> watchedDirs_;
};

Store& store() {
  static Store* s = [] {
    auto* st = new Store;  // leaked on purpose: handles may be closed during exit
    std::atexit([] { store().shutdown(); });
    return st;
  }();
  return *s;
}

// ---------------------------------------------------------------- lifecycle

LSTATUS Store::ensureOpen() {
  if (open_) return ERROR_SUCCESS;
  folder_ = defaultRegistryFolder();
  userSid = currentUserSid();
  openedAt = nowFileTime();
  LSTATUS rc = createMissingDefaultHives(folder_, userSid);
  (void)rc;  // a hive that could not be made is mounted empty, in memory, below
  for (const DefaultHive& d : defaultHives(folder_, userSid)) {
    std::shared_ptr<Hive> h;
    LSTATUS mrc = mount(d.machine ? Master::Machine : Master::Users, d.mountName, d.path, true, &h);
    if (mrc != ERROR_SUCCESS) {
      // The registry must work even when a file is unusable; the file itself
      // is left alone so nothing of it is lost.
      auto empty = HiveFile::createEmpty(d.mountName);
      if (!empty) continue;
      h = std::make_shared<Hive>();
      h->master = d.machine ? Master::Machine : Master::Users;
      h->mountName = d.mountName;
      h->file = std::move(empty.value());
      mounts_.push_back(h);
    }
    if (d.machine && nameEq(d.mountName, u"SOFTWARE")) h->machineSoftware = true;
    if (d.machine && nameEq(d.mountName, u"SYSTEM")) h->machineSystem = true;
  }
  inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  for (const auto& h : mounts_)
    if (h->shared && !h->path.empty()) watchFolder(h->path.parent_path());
  stop_ = false;
  service_ = StartThread("registry service", "", [this] { serviceLoop(); });
  open_ = true;
  return ERROR_SUCCESS;
}

void Store::watchFolder(const std::filesystem::path& dir) {
  if (inotifyFd_ < 0) return;
  for (const auto& [wd, d] : watchedDirs_)
    if (d == dir) return;
  int wd = ::inotify_add_watch(inotifyFd_, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE);
  if (wd >= 0) watchedDirs_[wd] = dir;
}

void Store::serviceLoop() {
  for (;;) {
    struct pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    ::poll(fds, 2, 200);
    if (stop_) return;
    if (fds[1].revents & POLLIN) {
      std::uint64_t v;
      ssize_t n = ::read(wakeFd_, &v, sizeof v);
      (void)n;
    }
    if (fds[0].revents & POLLIN) {
      alignas(struct inotify_event) char buf[8192];
      for (;;) {
        ssize_t n = ::read(inotifyFd_, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off + ssize_t(sizeof(struct inotify_event)) <= n;) {
          auto* ev = reinterpret_cast<struct inotify_event*>(buf + off);
          std::string name = ev->len ? std::string(ev->name) : std::string();
          std::lock_guard lock(mutex);
          auto it = watchedDirs_.find(ev->wd);
          if (it != watchedDirs_.end() && !name.empty()) externalChange(it->second, name);
          off += ssize_t(sizeof(struct inotify_event) + ev->len);
        }
      }
    }
    std::lock_guard lock(mutex);
    if (stop_) return;
    flushDue();
  }
}

void Store::shutdown() {
  {
    std::lock_guard lock(mutex);
    if (!open_) return;
    stop_ = true;
    if (wakeFd_ >= 0) {
      std::uint64_t one = 1;
      ssize_t n = ::write(wakeFd_, &one, sizeof one);
      (void)n;
    }
  }
  if (service_.joinable()) service_.join();
  std::lock_guard lock(mutex);
  for (auto& h : mounts_) (void)save(*h);
  for (auto& [value, kh] : handles_)
    if (kh.watch) kernel::signalRetainedEvent(kh.watch->event);
  handles_.clear();
  rootWatchHandles.clear();
  mounts_.clear();
  if (inotifyFd_ >= 0) ::close(inotifyFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  inotifyFd_ = wakeFd_ = -1;
  watchedDirs_.clear();
  open_ = false;
}

// ---------------------------------------------------------------- mounts

std::shared_ptr<Hive> Store::findMount(Master m, std::u16string_view name) {
  for (const auto& h : mounts_)
    if (h->master == m && nameEq(h->mountName, name)) return h;
  return nullptr;
}

std::vector<std::shared_ptr<Hive>> Store::mountsOf(Master m) {
  std::vector<std::shared_ptr<Hive>> out;
  for (const auto& h : mounts_)
    if (h->master == m) out.push_back(h);
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    return hive::compareKeyNames(a->mountName, b->mountName) < 0;
  });
  return out;
}

HiveReadOnlyReason readOnlyReasonOf(const HiveFile& f, bool writable) {
  if (!f.readOnly()) return HiveReadOnlyReason::None;
  const hive::LogReplayInfo replay = f.logReplay();
  if (f.damaged() || replay.incomplete) return HiveReadOnlyReason::Damaged;
  if (f.baseBlock().dirty() && !replay.replayed) return HiveReadOnlyReason::Dirty;
  if (!writable) return HiveReadOnlyReason::FileNotWritable;
  return HiveReadOnlyReason::OldFormat;
}

LSTATUS Store::mount(Master m, const std::u16string& name, const std::filesystem::path& file, bool shared,
                     std::shared_ptr<Hive>* out) {
  // A link that leads nowhere (or round in a loop) is a file that is not there.
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(file.c_str(), nullptr), &std::free);
  if (!real) return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
  const std::filesystem::path resolved(real.get());
  std::error_code ec;
  if (std::filesystem::is_directory(resolved, ec)) return ERROR_ACCESS_DENIED;
  auto h = std::make_shared<Hive>();
  h->master = m;
  h->mountName = name;
  h->path = resolved;
  h->given = file;
  for (const auto& other : mounts_)
    if (!other->path.empty() && other->path == h->path) return ERROR_SHARING_VIOLATION;
  h->shared = shared;
  if (h->lock.open(h->path)) {
    bool locked = shared ? h->lock.lockUseShared() : h->lock.lockUseExclusive();
    if (!locked) return ERROR_SHARING_VIOLATION;
  } else if (!shared) {
    // Without the lock another process could write the file under us.
    return ERROR_SHARING_VIOLATION;
  }
  {
    HiveWriteGuard guard(h->lock);  // never read a hive while another process merges into it
    // A hive that cannot be written back (a read-only disk or image, a file or
    // folder without write permission) mounts read-only, so a change fails at
    // once with 5 instead of being lost at the first save.
    // A file without write permission stays read-only for the superuser too.
    const bool writable = checkReplaceable(h->path) == 0;
    // A save cut short by a killed process leaves its temporary file beside
    // the hive: clear those out. A running process's is kept, as it may
    // still be saving.
    if (writable) (void)removeStaleTemporaries(h->path);
    auto opened = HiveFile::open(h->path, writable ? hive::OpenMode::ReadWrite : hive::OpenMode::ReadOnly);
    if (!opened && opened.error() == HiveError::IoError) {
      // A file we may read but not write (a read-only disk): mount it read-only.
      opened = HiveFile::open(h->path, hive::OpenMode::ReadOnly);
    }
    if (!opened) {
      HiveError e = opened.error();
      if (e == HiveError::IoError)
        return ::access(h->path.c_str(), R_OK) == 0 ? ERROR_REGISTRY_IO_FAILED : ERROR_ACCESS_DENIED;
      return fromHiveError(e) == ERROR_SUCCESS ? ERROR_BADDB : fromHiveError(e);
    }
    h->file = std::move(opened.value());
    h->stamp = stampOf(h->path);
    h->readOnlyReason = readOnlyReasonOf(*h->file, writable);
  }
  h->accessChecks = shared;
  struct stat st = {};
  h->ownerReads = !shared && (::geteuid() == 0 || (::stat(h->path.c_str(), &st) == 0 && st.st_uid == ::geteuid()));
  mounts_.push_back(h);
  if (out) *out = h;
  return ERROR_SUCCESS;
}

LSTATUS Store::unmount(Master m, std::u16string_view name) {
  std::shared_ptr<Hive> h = findMount(m, name);
  if (!h) return ERROR_FILE_NOT_FOUND;
  if (h->shared) return ERROR_ACCESS_DENIED;  // the machine's and the user's own hives stay
  for (const auto& [value, kh] : handles_)
    if (kh.hive == h && !kh.deleted) return ERROR_ACCESS_DENIED;
  LSTATUS rc = save(*h);
  if (rc != ERROR_SUCCESS) return rc;  // stays mounted: nothing may be lost
  // Handles already marked deleted still point at the hive; they keep it
  // alive as an object but can reach nothing.
  for (auto& [value, kh] : handles_)
    if (kh.hive == h) kh.deleted = true;
  h->lock.unlockUse();
  h->lock.close();
  mounts_.erase(std::remove(mounts_.begin(), mounts_.end(), h), mounts_.end());
  changedMaster(m);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- nodes

std::optional<std::u16string> Store::controlSetName(Hive& h) {
  HiveFile& f = *h.file;
  auto select = f.findSubkey(f.root(), u"Select");
  if (!select) return std::nullopt;
  auto value = f.findValue(*select, u"Current");
  if (!value) return std::nullopt;
  auto data = f.valueData(*value);
  if (!data || data->size() < 4) return std::nullopt;
  std::uint32_t n = std::uint32_t((*data)[0]) | (std::uint32_t((*data)[1]) << 8) |
                    (std::uint32_t((*data)[2]) << 16) | (std::uint32_t((*data)[3]) << 24);
  if (n == 0 || n > 999) return std::nullopt;
  char buf[16];
  std::snprintf(buf, sizeof buf, "ControlSet%03u", n);
  return asciiToWide(buf);
}

std::optional<Child> Store::findChild(Hive& h, const Path& parentPhys, Node parent, std::u16string_view name) {
  if (parent.vol) {
    auto k = h.shadow->findSubkey(parent.id, name);
    if (!k) return std::nullopt;
    return Child{std::u16string(name), Node{true, *k}, false};
  }
  if (auto k = h.file->findSubkey(parent.id, name)) return Child{std::u16string(name), Node{false, *k}, false};
  if (h.shadow) {
    auto a = h.anchors.find(parentPhys);
    if (a != h.anchors.end()) {
      if (auto k = h.shadow->findSubkey(a->second, name)) return Child{std::u16string(name), Node{true, *k}, false};
    }
  }
  if (h.machineSystem && parentPhys.empty() && nameEq(name, u"CurrentControlSet")) {
    auto target = controlSetName(h);
    if (!target) return std::nullopt;
    auto k = h.file->findSubkey(h.file->root(), *target);
    if (!k) return std::nullopt;
    return Child{*target, Node{false, *k}, true};
  }
  return std::nullopt;
}

std::optional<Node> Store::walk(Hive& h, const Path& phys, Path* actual) {
  Node n{false, h.file->root()};
  Path done;
  for (const auto& comp : phys) {
    auto c = findChild(h, done, n, comp);
    if (!c) return std::nullopt;
    done.push_back(c->link ? c->name : comp);
    n = c->node;
  }
  if (actual) *actual = done;
  return n;
}

std::vector<Child> Store::children(Hive& h, const Path& phys, Node node) {
  std::vector<Child> out;
  HiveFile& f = fileOf(h, node);
  thread_local std::vector<KeyId> subs;
  if (f.subkeysInto(node.id, subs)) {
    out.reserve(subs.size());
    for (KeyId k : subs) {
      Child c{{}, Node{node.vol, k}, false};
      if (f.keyNameInto(k, c.name)) out.push_back(std::move(c));
    }
  }
  bool extra = false;
  if (!node.vol && h.shadow) {
    auto a = h.anchors.find(phys);
    if (a != h.anchors.end()) {
      if (auto subs = h.shadow->subkeys(a->second)) {
        for (KeyId k : *subs)
          if (auto info = h.shadow->keyInfo(k)) out.push_back(Child{info->name, Node{true, k}, false});
        extra = !subs->empty();
      }
    }
  }
  if (!node.vol && h.machineSystem && phys.empty() && controlSetName(h)) {
    out.push_back(Child{u"CurrentControlSet", Node{}, true});
    extra = true;
  }
  if (extra)
    std::stable_sort(out.begin(), out.end(),
                     [](const Child& a, const Child& b) { return hive::compareKeyNames(a.name, b.name) < 0; });
  return out;
}

std::vector<Child>& Store::childrenOf(KeyHandle& kh) {
  if (kh.childCacheValid && kh.childStamp == changeCounter) return kh.childCache;
  kh.childCache.clear();
  if (kh.master != Master::None) {
    for (const auto& m : mountsOf(kh.master)) kh.childCache.push_back(Child{m->mountName, Node{}, false});
  } else {
    Hive& h = *kh.hive;
    kh.childCache = children(h, kh.physical, kh.node);
    // A key of the 32-bit view that lives elsewhere than its name says also
    // shows the shared keys of its 64-bit twin, as the views present them.
    if (kh.view32 && h.machineSoftware && !kh.logicalIsPhysical && !pathEq(kh.physical, kh.logical)) {
      Path twinPhys;
      if (auto twin = walk(h, kh.logical, &twinPhys)) {
        bool added = false;
        for (Child& c : children(h, twinPhys, *twin)) {
          Path p = kh.logical;
          p.push_back(c.name);
          if (!pathEq(redirect32(p), p)) continue;
          bool present = std::any_of(kh.childCache.begin(), kh.childCache.end(),
                                     [&](const Child& o) { return nameEq(o.name, c.name); });
          if (!present) {
            c.node = Node{};
            c.link = true;  // reached by name through the view, not through this key
            kh.childCache.push_back(c);
            added = true;
          }
        }
        if (added)
          std::stable_sort(kh.childCache.begin(), kh.childCache.end(), [](const Child& a, const Child& b) {
            return hive::compareKeyNames(a.name, b.name) < 0;
          });
      }
    }
  }
  kh.childStamp = changeCounter;
  kh.childCacheValid = true;
  kh.childHint = 0;
  return kh.childCache;
}

// A walk that lists a key's sub-keys and then opens them one by one asks for
// them in list order: the entry after the one found last is tried first, which
// spares the hive's lookup by name. Only a stable child under its exact name
// counts; anything else (a link, a volatile key, another spelling) takes the
// lookup.
std::optional<Node> Store::listedChild(KeyHandle& parent, std::u16string_view name) {
  if (!parent.childCacheValid || parent.childStamp != changeCounter) return std::nullopt;
  const std::vector<Child>& kids = parent.childCache;
  const std::size_t i = parent.childHint;
  if (i >= kids.size()) return std::nullopt;
  const Child& c = kids[i];
  if (c.link || c.node.vol || c.name != name) return std::nullopt;
  parent.childHint = i + 1;
  return c.node;
}

HiveError Store::valuesOf(KeyHandle& kh, const std::vector<ValueId>** out) {
  *out = &kh.valueCache;
  if (kh.valueCacheValid && kh.valueStamp == changeCounter) return HiveError::None;
  kh.valueCacheValid = false;
  const auto st = fileOf(*kh.hive, kh.node).valuesInto(kh.node.id, kh.valueCache);
  if (!st) return st.error();
  kh.valueStamp = changeCounter;
  kh.valueCacheValid = true;
  return HiveError::None;
}

LSTATUS Store::createChild(Hive& h, const Path& parentPhys, Node parent, const std::u16string& name,
                           const OpenRequest& req, Node* created) {
  const bool wantVolatile = (req.options & REG_OPTION_VOLATILE) != 0;
  if (parent.vol && !wantVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
  if (name.size() > 255) return ERROR_INVALID_PARAMETER;
  std::vector<std::uint8_t> parentSd;
  if (auto s = fileOf(h, parent).security(parent.id)) parentSd = std::move(s.value());

  Path phys = parentPhys;
  phys.push_back(name);
  Node n;
  if (!wantVolatile) {
    if (h.file->readOnly()) return ERROR_ACCESS_DENIED;
    auto k = h.file->createKey(parent.id, name);
    if (!k) return fromHiveError(k.error());
    n = Node{false, *k};
    journal(h, JournalOp{OpKind::CreateKey, phys, {}, 0, {}});
  } else {
    if (!h.shadow) {
      auto s = HiveFile::createEmpty(u"VOLATILE");
      if (!s) return fromHiveError(s.error());
      h.shadow = std::move(s.value());
    }
    KeyId under;
    if (parent.vol) {
      under = parent.id;
    } else {
      auto a = h.anchors.find(parentPhys);
      if (a == h.anchors.end()) {
        auto anchor = h.shadow->createKey(h.shadow->root(), u"a" + asciiToWide(std::to_string(++h.anchorCounter)));
        if (!anchor) return fromHiveError(anchor.error());
        a = h.anchors.emplace(parentPhys, *anchor).first;
      }
      under = a->second;
    }
    auto k = h.shadow->createKey(under, name);
    if (!k) return fromHiveError(k.error());
    n = Node{true, *k};
  }
  HiveFile& f = fileOf(h, n);
  if (req.className && !req.className->empty()) {
    (void)f.setClassName(n.id, *req.className);
    if (!n.vol) journal(h, JournalOp{OpKind::SetClass, phys, *req.className, 0, {}});
  }
  const std::vector<std::uint8_t> descriptor =
      req.security && !req.security->empty() ? *req.security : inheritedDescriptor(parentSd);
  (void)f.setSecurity(n.id, descriptor);
  if (!n.vol) journal(h, JournalOp{OpKind::SetSecurity, phys, {}, 0, descriptor});
  (void)f.setLastWritten(n.id, nowFileTime());
  touch(h, parent);
  changed(h, parentPhys, REG_NOTIFY_CHANGE_NAME);
  *created = n;
  return ERROR_SUCCESS;
}

bool Store::refresh(KeyHandle& kh) {
  if (kh.deleted) return false;
  if (kh.master != Master::None) return true;
  if (kh.generation == kh.hive->generation) return true;
  auto n = walk(*kh.hive, kh.physical, nullptr);
  if (!n) {
    kh.deleted = true;
    return false;
  }
  kh.node = *n;
  kh.generation = kh.hive->generation;
  kh.childCacheValid = false;
  kh.valueCacheValid = false;
  return true;
}

// ---------------------------------------------------------------- changes

void Store::touch(Hive& h, Node n) { (void)fileOf(h, n).setLastWritten(n.id, nowFileTime()); }

void Store::journal(Hive& h, JournalOp op) {
  ++changeCounter;
  if (!h.dirty) {
    h.dirty = true;
    h.dirtySince = Clock::now();
  }
  if (h.shared) h.journal.push_back(std::move(op));
}

void Store::changed(Hive& h, const Path& phys, DWORD filterBit) {
  ++changeCounter;
  for (auto& [value, kh] : handles_) {
    if (!kh.watch || !(kh.watch->filter & filterBit)) continue;
    bool hit = false;
    if (kh.master != Master::None) {
      hit = kh.watch->subtree && kh.master == h.master;
    } else if (kh.hive.get() == &h) {
      hit = pathEq(kh.physical, phys) || (kh.watch->subtree && pathHasPrefix(phys, kh.physical));
    }
    if (hit) {
      kernel::signalRetainedEvent(kh.watch->event);
      kh.watch.reset();
    }
  }
}

void Store::changedMaster(Master m) {
  ++changeCounter;
  for (auto& [value, kh] : handles_) {
    if (kh.watch && kh.master == m && (kh.watch->filter & REG_NOTIFY_CHANGE_NAME)) {
      kernel::signalRetainedEvent(kh.watch->event);
      kh.watch.reset();
    }
  }
}

void Store::markDeleted(Hive& h, const Path& phys) {
  for (auto& [value, kh] : handles_) {
    if (kh.hive.get() == &h && pathHasPrefix(kh.physical, phys)) {
      kh.deleted = true;
      if (kh.watch) {
        kernel::signalRetainedEvent(kh.watch->event);
        kh.watch.reset();
      }
    }
  }
}

// ---------------------------------------------------------------- persistence

void Store::applyJournal(Hive& h) {
  HiveFile& f = *h.file;
  auto locate = [&](const Path& p, bool createMissing) -> std::optional<KeyId> {
    KeyId k = f.root();
    for (const auto& comp : p) {
      auto c = f.findSubkey(k, comp);
      if (c) {
        k = *c;
        continue;
      }
      if (!createMissing) return std::nullopt;
      auto made = f.createKey(k, comp);
      if (!made) return std::nullopt;
      k = *made;
    }
    return k;
  };
  const std::uint64_t now = nowFileTime();
  for (const JournalOp& op : h.journal) {
    switch (op.kind) {
      case OpKind::CreateKey:
        if (auto k = locate(op.path, true)) (void)f.setLastWritten(*k, now);
        break;
      case OpKind::DeleteKey:
        if (auto k = locate(op.path, false)) (void)f.deleteKey(*k);
        break;
      case OpKind::SetValue:
        // A key another process deleted stays deleted; the value goes with it.
        if (auto k = locate(op.path, false)) {
          (void)f.setValue(*k, op.name, op.type, op.data);
          (void)f.setLastWritten(*k, now);
        }
        break;
      case OpKind::DeleteValue:
        if (auto k = locate(op.path, false)) (void)f.deleteValue(*k, op.name);
        break;
      case OpKind::SetClass:
        if (auto k = locate(op.path, false)) (void)f.setClassName(*k, op.name);
        break;
      case OpKind::SetSecurity:
        if (auto k = locate(op.path, false)) (void)f.setSecurity(*k, op.data);
        break;
    }
  }
}

namespace diff {

bool sameValues(HiveFile& a, KeyId ka, HiveFile& b, KeyId kb) {
  auto va = a.values(ka);
  auto vb = b.values(kb);
  if (!va || !vb || va->size() != vb->size()) return false;
  for (std::size_t i = 0; i < va->size(); ++i) {
    auto ia = a.valueInfo((*va)[i]);
    auto ib = b.valueInfo((*vb)[i]);
    if (!ia || !ib || ia->name != ib->name || ia->type != ib->type || ia->dataSize != ib->dataSize) return false;
    auto da = a.valueData((*va)[i]);
    auto db = b.valueData((*vb)[i]);
    if (!da || !db || *da != *db) return false;
  }
  return true;
}

// Whether the key (and, with subtree, everything below it) differs between
// two versions of a hive in a way the filter asks about.
bool differs(HiveFile& a, KeyId ka, HiveFile& b, KeyId kb, DWORD filter, bool subtree, std::size_t& budget,
             std::size_t depth) {
  if (budget == 0 || depth > kMaxPathDepth) return true;  // too big to tell: say it changed
  --budget;
  auto ia = a.keyInfo(ka);
  auto ib = b.keyInfo(kb);
  if (!ia || !ib) return true;
  if ((filter & REG_NOTIFY_CHANGE_LAST_SET) && !sameValues(a, ka, b, kb)) return true;
  if ((filter & REG_NOTIFY_CHANGE_ATTRIBUTES) && ia->className != ib->className) return true;
  if ((filter & REG_NOTIFY_CHANGE_SECURITY)) {
    auto sa = a.security(ka);
    auto sb = b.security(kb);
    if (sa.ok() != sb.ok() || (sa.ok() && *sa != *sb)) return true;
  }
  auto ca = a.subkeys(ka);
  auto cb = b.subkeys(kb);
  if (!ca || !cb) return true;
  if ((filter & REG_NOTIFY_CHANGE_NAME) && ca->size() != cb->size()) return true;
  if (!subtree && !(filter & REG_NOTIFY_CHANGE_NAME)) return false;
  for (KeyId child : *ca) {
    auto info = a.keyInfo(child);
    if (!info) return true;
    auto other = b.findSubkey(kb, info->name);
    if (!other) {
      if (filter & REG_NOTIFY_CHANGE_NAME) return true;
      continue;
    }
    if (subtree && differs(a, child, b, *other, filter, true, budget, depth + 1)) return true;
  }
  return false;
}

}  // namespace diff

void Store::fireDiffs(Hive& h, HiveFile& before) {
  for (auto& [value, kh] : handles_) {
    if (!kh.watch) continue;
    bool fire = false;
    if (kh.master != Master::None) {
      fire = kh.watch->subtree && kh.master == h.master;
    } else if (kh.hive.get() == &h) {
      if (kh.node.vol) continue;  // volatile keys are not in the file
      KeyId oldKey = before.root();
      bool found = true;
      for (const auto& comp : kh.physical) {
        auto c = before.findSubkey(oldKey, comp);
        if (!c) {
          found = false;
          break;
        }
        oldKey = *c;
      }
      auto now = walk(h, kh.physical, nullptr);
      if (!found || !now || now->vol) {
        fire = found != bool(now);
      } else {
        std::size_t budget = kMaxDiffKeys;
        fire = diff::differs(before, oldKey, *h.file, now->id, kh.watch->filter, kh.watch->subtree, budget, 0);
      }
    }
    if (fire) {
      kernel::signalRetainedEvent(kh.watch->event);
      kh.watch.reset();
    }
  }
}

void Store::reloadFromDisk(Hive& h) {
  auto opened = HiveFile::open(h.path, hive::OpenMode::ReadWrite);
  if (!opened) return;  // keep what we have; the next save tries again
  std::unique_ptr<HiveFile> before = std::move(h.file);
  h.file = std::move(opened.value());
  applyJournal(h);
  h.stamp = stampOf(h.path);
  ++h.generation;
  ++changeCounter;
  for (auto& [value, kh] : handles_)
    if (kh.hive.get() == &h) (void)refresh(kh);
  fireDiffs(h, *before);
}

LSTATUS Store::save(Hive& h) {
  if (!h.dirty || h.path.empty()) return ERROR_SUCCESS;
  if (h.file->readOnly()) return ERROR_ACCESS_DENIED;
  // The file may have been made read-only (or given away) since the mount:
  // it is then left as it is, and the changes stay here unsaved.
  if (checkReplaceable(h.path) != 0) return ERROR_ACCESS_DENIED;
  if (h.shared) {
    HiveWriteGuard guard(h.lock);
    if (!(stampOf(h.path) == h.stamp)) reloadFromDisk(h);
    auto st = h.file->save();
    if (!st) return fromHiveError(st.error());
    // Still under the lock: once it is let go, another process may replace
    // the file, and its save would then pass for ours and never be read.
    h.stamp = stampOf(h.path);
  } else {
    auto st = h.file->save();
    if (!st) return fromHiveError(st.error());
    h.stamp = stampOf(h.path);
  }
  h.journal.clear();
  h.dirty = false;
  return ERROR_SUCCESS;
}

void Store::externalChange(const std::filesystem::path& dir, const std::string& fileName) {
  for (const auto& hp : mounts_) {
    Hive& h = *hp;
    if (!h.shared || h.path.parent_path() != dir || h.path.filename() != fileName) continue;
    reloadIfSavedElsewhere(h);
  }
}

void Store::reloadIfSavedElsewhere(Hive& h) {
  if (stampOf(h.path) == h.stamp) return;  // our own save
  HiveWriteGuard guard(h.lock);
  reloadFromDisk(h);
  if (h.journal.empty()) h.dirty = false;
}

void Store::flushDue() {
  const auto now = Clock::now();
  for (const auto& h : mounts_)
    if (h->dirty && now - h->dirtySince >= kLazyFlushDelay) (void)save(*h);
}

// ---------------------------------------------------------------- handles

KeyHandle* Store::handleOf(HKEY key) {
  auto it = handles_.find(key.value);
  return it == handles_.end() ? nullptr : &it->second;
}

LSTATUS Store::baseOf(HKEY key, Base* base) {
  bool wow64 = false;
  IsWow64Process(GetCurrentProcess(), &wow64);
  base->view32Default = wow64;
  if (key == HKEY_LOCAL_MACHINE) {
    base->master = Master::Machine;
    return ERROR_SUCCESS;
  }
  if (key == HKEY_USERS) {
    base->master = Master::Users;
    return ERROR_SUCCESS;
  }
  if (key == HKEY_PERFORMANCE_DATA) {
    base->master = Master::Perf;
    return ERROR_SUCCESS;
  }
  if (key == HKEY_CURRENT_USER) {
    base->hive = findMount(Master::Users, asciiToWide(userSid));
    return base->hive ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  if (key == HKEY_CLASSES_ROOT) {
    base->hive = findMount(Master::Machine, u"SOFTWARE");
    base->logical = {u"Classes"};
    return base->hive ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  if (key == HKEY_CURRENT_CONFIG) {
    base->hive = findMount(Master::Machine, u"SYSTEM");
    base->logical = {u"CurrentControlSet", u"Hardware Profiles", u"Current"};
    return base->hive ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  KeyHandle* kh = handleOf(key);
  if (!kh) return ERROR_INVALID_HANDLE;
  if (!refresh(*kh)) return ERROR_KEY_DELETED;
  base->master = kh->master;
  base->hive = kh->hive;
  base->handle = kh;
  return ERROR_SUCCESS;
}

LSTATUS Store::open(const Base& base, const Path& sub, const OpenRequest& req, HKEY* result, DWORD* disposition) {
  const REGSAM view = req.access & KEY_WOW64_RES;
  if (view == KEY_WOW64_RES) return ERROR_INVALID_PARAMETER;
  const bool view32 = view == KEY_WOW64_32KEY || (view == 0 && base.view32Default);
  if (sub.size() > kMaxPathDepth) return ERROR_INVALID_PARAMETER;
  // The SACL right needs the security privilege, which the token never holds.
  if (req.access & ACCESS_SYSTEM_SECURITY) return ERROR_PRIVILEGE_NOT_HELD;

  KeyHandle kh;
  kh.access = mapGenericAccess(req.access & ~KEY_WOW64_RES);
  kh.view32 = view32;
  std::size_t skip = 0;  // the leading component of `sub` that names the mount
  if (base.master != Master::None) {
    if (sub.empty()) {
      kh.master = base.master;
      const auto master = [](std::vector<std::uint8_t>& d) {
        d = masterKeyDescriptor();
        return ERROR_SUCCESS;
      };
      const LSTATUS rc = grantedAccess(master, req.access & ~KEY_WOW64_RES, &kh.access);
      if (rc != ERROR_SUCCESS) return rc;
      if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
      *result = addHandle(std::move(kh));
      return ERROR_SUCCESS;
    }
    kh.hive = findMount(base.master, sub.front());
    if (!kh.hive) return req.create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    skip = 1;
  } else {
    kh.hive = base.hive;
  }
  Hive& h = *kh.hive;
  // The path as asked for: the base's, then `sub` past the mount name. It is
  // put together only when it differs from where the key is found.
  const Path& baseLogical = base.logicalPath();
  const std::size_t logicalSize = baseLogical.size() + sub.size() - skip;
  const auto logicalAt = [&](std::size_t i) -> const std::u16string& {
    return i < baseLogical.size() ? baseLogical[i] : sub[skip + i - baseLogical.size()];
  };
  const auto wholeLogical = [&] {
    Path p;
    p.reserve(logicalSize);
    for (std::size_t i = 0; i < logicalSize; ++i) p.push_back(logicalAt(i));
    return p;
  };
  const bool redirected = view32 && h.machineSoftware;
  const Path target = redirected ? redirect32(wholeLogical()) : Path{};
  const std::size_t walkSize = redirected ? target.size() : logicalSize;
  // Below an open key that is where its own name says (no link and no view
  // redirection on its path), the walk from the hive root would end at that
  // key again: start there instead of looking up every level once more.
  KeyHandle* from = base.handle;
  const bool fromBase = from && from->master == Master::None && from->hive == kh.hive && !redirected &&
                        from->logicalIsPhysical;

  Node n{false, h.file->root()};
  Path phys;
  phys.reserve(walkSize);
  std::size_t start = 0;
  if (fromBase) {
    n = from->node;
    phys.assign(from->physical.begin(), from->physical.end());
    start = from->physical.size();
  }
  bool linked = false;  // a link was followed: the key is not where its name says
  bool createdAny = false;
  for (std::size_t i = start; i < walkSize; ++i) {
    const auto& comp = redirected ? target[i] : logicalAt(i);
    if (fromBase && i == start) {
      if (auto listed = listedChild(*from, comp)) {
        phys.push_back(comp);
        n = *listed;
        continue;
      }
    }
    if (auto c = findChild(h, phys, n, comp)) {
      linked = linked || c->link;
      phys.push_back(c->link ? c->name : comp);
      n = c->node;
      continue;
    }
    if (!req.create) return ERROR_FILE_NOT_FOUND;
    if (!req.createParents && i + 1 < walkSize) return ERROR_FILE_NOT_FOUND;
    // Making a key takes the right to add sub-keys to its parent (one made
    // by this very call is its maker's).
    REGSAM onParent = 0;
    if (!createdAny) {
      const LSTATUS denied = grantedAccess(DescriptorReader{fileOf(h, n), n.id}, KEY_CREATE_SUB_KEY, &onParent, &h);
      if (denied != ERROR_SUCCESS) return denied;
    }
    Node made;
    LSTATUS rc = createChild(h, phys, n, comp, req, &made);
    if (rc != ERROR_SUCCESS) return rc;
    phys.push_back(comp);
    n = made;
    createdAny = true;
  }
  kh.physical = std::move(phys);
  if (!redirected && !linked) {
    kh.logicalIsPhysical = true;
  } else {
    kh.logical = wholeLogical();
  }
  kh.node = n;
  kh.generation = h.generation;
  // Whoever made the key gets what was asked for.
  if (!createdAny) {
    const LSTATUS rc = grantedAccess(DescriptorReader{fileOf(h, n), n.id}, req.access & ~KEY_WOW64_RES, &kh.access, &h);
    if (rc != ERROR_SUCCESS) return rc;
  }
  if (disposition) *disposition = createdAny ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = addHandle(std::move(kh));
  return ERROR_SUCCESS;
}

HKEY Store::addHandle(KeyHandle h) {
  HKEY key(kernel::allocateHandleValue());
  handles_.emplace(key.value, std::move(h));
  return key;
}

LSTATUS Store::openTransient(HKEY key, KeyHandle& out) {
  Base base;
  LSTATUS rc = baseOf(key, &base);
  if (rc != ERROR_SUCCESS) return rc;
  HKEY tmp;
  OpenRequest req;
  req.access = MAXIMUM_ALLOWED;
  rc = open(base, {}, req, &tmp, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  out = std::move(handles_.at(tmp.value));
  handles_.erase(tmp.value);
  return ERROR_SUCCESS;
}

// The handle behind key, with predefined roots made into a transient handle
// kept in `scratch`. ERROR_ACCESS_DENIED when the handle lacks `need`.
thread_local KeyHandle tScratch;

LSTATUS Store::liveHandle(HKEY key, KeyHandle** out, REGSAM need) {
  if (key.value >= 0x80000000u && key.value <= 0x80000006u) {
    if (key == HKEY_DYN_DATA) return ERROR_INVALID_HANDLE;
    tScratch = KeyHandle{};
    LSTATUS rc = openTransient(key, tScratch);
    if (rc != ERROR_SUCCESS) return rc;
    if ((tScratch.access & need) != need) return ERROR_ACCESS_DENIED;
    *out = &tScratch;
    return ERROR_SUCCESS;
  }
  KeyHandle* kh = handleOf(key);
  if (!kh) return ERROR_INVALID_HANDLE;
  if (!refresh(*kh)) return ERROR_KEY_DELETED;
  if ((kh->access & need) != need) return ERROR_ACCESS_DENIED;
  *out = kh;
  return ERROR_SUCCESS;
}

LSTATUS Store::close(HKEY key) {
  if (key.value >= 0x80000000u && key.value <= 0x80000006u) return ERROR_SUCCESS;
  auto it = handles_.find(key.value);
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  if (it->second.watch) kernel::signalRetainedEvent(it->second.watch->event);
  handles_.erase(it);
  return ERROR_SUCCESS;
}

LSTATUS Store::removeHandleKey(KeyHandle& kh) {
  if (kh.master != Master::None) return ERROR_ACCESS_DENIED;
  if (kh.physical.empty()) return ERROR_ACCESS_DENIED;  // a mount point goes by unloading
  Hive& h = *kh.hive;
  if (h.machineSystem && kh.physical.size() == 1) {
    // The key CurrentControlSet points at cannot go while it is current.
    auto cs = controlSetName(h);
    if (cs && nameEq(*cs, kh.physical[0])) return ERROR_ACCESS_DENIED;
  }
  HiveFile& f = fileOf(h, kh.node);
  auto subs = f.subkeys(kh.node.id);
  if (!subs) return fromHiveError(subs.error());
  if (!subs->empty()) return ERROR_ACCESS_DENIED;
  if (!kh.node.vol && h.shadow) {
    auto a = h.anchors.find(kh.physical);
    if (a != h.anchors.end()) {
      auto vsubs = h.shadow->subkeys(a->second);
      if (vsubs && !vsubs->empty()) return ERROR_ACCESS_DENIED;
      (void)h.shadow->deleteKey(a->second);
      h.anchors.erase(a);
    }
  }
  auto st = f.deleteKey(kh.node.id);
  if (!st) return fromHiveError(st.error());
  Path parentPhys(kh.physical.begin(), kh.physical.end() - 1);
  if (!kh.node.vol) journal(h, JournalOp{OpKind::DeleteKey, kh.physical, {}, 0, {}});
  if (auto parent = walk(h, parentPhys, nullptr)) touch(h, *parent);
  const Path deleted = kh.physical;
  markDeleted(h, deleted);
  changed(h, parentPhys, REG_NOTIFY_CHANGE_NAME);
  return ERROR_SUCCESS;
}

std::unique_lock<std::recursive_mutex> lockedOpen(LSTATUS* rc) {
  std::unique_lock lock(store().mutex);
  *rc = store().ensureOpen();
  return lock;
}

}  // namespace

// ================================================================ public calls

Path splitKeyPath(std::u16string_view text) {
  Path out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(u'\\', start);
    if (end == std::u16string_view::npos) end = text.size();
    if (end > start) out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

LSTATUS openKey(HKEY base, const Path& sub, const OpenRequest& request, HKEY* result, DWORD* disposition) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  if (!result) return ERROR_INVALID_PARAMETER;
  Store& s = store();
  if (base == HKEY_DYN_DATA) return ERROR_INVALID_HANDLE;
  Store::Base b;
  rc = s.baseOf(base, &b);
  if (rc != ERROR_SUCCESS) return rc;
  return s.open(b, sub, request, result, disposition);
}

LSTATUS openNative(NativeRoot root, const Path& sub, const OpenRequest& request, HKEY* result, DWORD* disposition) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  if (!result) return ERROR_INVALID_PARAMETER;
  Store::Base b;
  bool wow64 = false;
  IsWow64Process(GetCurrentProcess(), &wow64);
  b.view32Default = wow64;
  b.master = root == NativeRoot::Machine ? Master::Machine : Master::Users;
  return store().open(b, sub, request, result, disposition);
}

LSTATUS closeKey(HKEY key) {
  std::lock_guard lock(store().mutex);
  return store().close(key);
}

LSTATUS deleteKey(HKEY base, const Path& sub, REGSAM viewFlags) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  if (sub.empty()) {
    KeyHandle* kh;
    rc = s.liveHandle(base, &kh, 0);
    if (rc != ERROR_SUCCESS) return rc;
    if (base.value >= 0x80000000u && base.value <= 0x80000006u) return ERROR_ACCESS_DENIED;
    return s.removeHandleKey(*kh);
  }
  Store::Base b;
  rc = s.baseOf(base, &b);
  if (rc != ERROR_SUCCESS) return rc;
  HKEY tmp;
  OpenRequest req;
  req.access = DELETE | (viewFlags & KEY_WOW64_RES);
  rc = s.open(b, sub, req, &tmp, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  KeyHandle* kh = s.handleOf(tmp);
  rc = s.removeHandleKey(*kh);
  s.close(tmp);
  return rc;
}

LSTATUS queryInfo(HKEY key, KeyInformation* info) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, KEY_QUERY_VALUE);
  if (rc != ERROR_SUCCESS) return rc;
  *info = KeyInformation{};
  if (kh->master != Master::None) {
    for (const Child& c : s.childrenOf(*kh)) {
      ++info->subKeys;
      info->maxSubKeyLen = std::max<DWORD>(info->maxSubKeyLen, DWORD(c.name.size()));
    }
    info->securitySize = DWORD(masterKeyDescriptor().size());
    info->lastWritten = s.openedAt;
    return ERROR_SUCCESS;
  }
  Hive& h = *kh->hive;
  HiveFile& f = s.fileOf(h, kh->node);
  auto ki = f.keyInfo(kh->node.id);
  if (!ki) return fromHiveError(ki.error());
  info->className = ki->className;
  info->values = ki->valueCount;
  info->maxValueNameLen = ki->maxValueNameLength;
  info->maxValueLen = ki->maxValueDataSize;
  info->securitySize = ki->securitySize;
  info->lastWritten = ki->lastWritten;
  info->subKeys = ki->subkeyCount;
  info->maxSubKeyLen = ki->maxSubkeyNameLength;
  info->maxClassLen = ki->maxClassNameLength;
  // Keys that are not this key's stable children (volatile ones, links,
  // shared keys of the other view) count as the enumeration shows them.
  const auto& kids = s.childrenOf(*kh);
  if (kids.size() != ki->subkeyCount) {
    info->subKeys = DWORD(kids.size());
    for (const Child& c : kids) {
      if (!c.node.vol && !c.link) continue;
      info->maxSubKeyLen = std::max<DWORD>(info->maxSubKeyLen, DWORD(c.name.size()));
      if (c.node.vol)
        if (auto ci = h.shadow->keyInfo(c.node.id))
          info->maxClassLen = std::max<DWORD>(info->maxClassLen, DWORD(ci->className.size()));
    }
  }
  return ERROR_SUCCESS;
}

LSTATUS enumKey(HKEY key, DWORD index, SubKeyEntry* entry, bool wantDetails) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, KEY_ENUMERATE_SUB_KEYS);
  if (rc != ERROR_SUCCESS) return rc;
  const auto& kids = s.childrenOf(*kh);
  if (index >= kids.size()) return ERROR_NO_MORE_ITEMS;
  const Child& c = kids[index];
  entry->name.assign(c.name);
  entry->className.clear();
  entry->lastWritten = s.openedAt;
  if (!wantDetails) return ERROR_SUCCESS;
  if (kh->master == Master::None && !c.link) {
    if (auto ci = s.fileOf(*kh->hive, c.node).keyInfo(c.node.id)) {
      entry->className = ci->className;
      entry->lastWritten = ci->lastWritten;
    }
  } else if (kh->master != Master::None) {
    if (auto m = s.findMount(kh->master, c.name))
      if (auto ci = m->file->keyInfo(m->file->root())) entry->lastWritten = ci->lastWritten;
  }
  return ERROR_SUCCESS;
}

LSTATUS enumValue(HKEY key, DWORD index, ValueEntry* entry, bool wantData) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, KEY_QUERY_VALUE);
  if (rc != ERROR_SUCCESS) return rc;
  if (kh->master != Master::None) return ERROR_NO_MORE_ITEMS;
  HiveFile& f = s.fileOf(*kh->hive, kh->node);
  const std::vector<ValueId>* vals;
  if (const HiveError e = s.valuesOf(*kh, &vals); e != HiveError::None) return fromHiveError(e);
  if (index >= vals->size()) return ERROR_NO_MORE_ITEMS;
  // Read into the caller's entry, whose buffers a walk over many values reuses.
  thread_local hive::ValueInfo info;
  const ValueId id = (*vals)[index];
  if (auto st = f.valueInfoInto(id, info); !st) return fromHiveError(st.error());
  entry->name.assign(info.name);
  entry->type = info.type;
  entry->data.clear();
  if (wantData) {
    if (auto st = f.valueDataInto(id, entry->data); !st) {
      entry->data.clear();
      return fromHiveError(st.error());
    }
  }
  return ERROR_SUCCESS;
}

LSTATUS queryValue(HKEY key, std::u16string_view name, ValueEntry* entry, bool wantData) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, KEY_QUERY_VALUE);
  if (rc != ERROR_SUCCESS) return rc;
  if (kh->master != Master::None) return ERROR_FILE_NOT_FOUND;
  HiveFile& f = s.fileOf(*kh->hive, kh->node);
  auto v = f.findValue(kh->node.id, name);
  if (!v) return fromHiveError(v.error());
  auto vi = f.valueInfo(*v);
  if (!vi) return fromHiveError(vi.error());
  entry->name = vi->name;
  entry->type = vi->type;
  entry->data.clear();
  if (wantData) {
    auto d = f.valueData(*v);
    if (!d) return fromHiveError(d.error());
    entry->data = std::move(d.value());
  } else {
    entry->data.resize(0);
  }
  return ERROR_SUCCESS;
}

LSTATUS setValue(HKEY key, std::u16string_view name, DWORD type, std::span<const std::uint8_t> data) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, KEY_SET_VALUE);
  if (rc != ERROR_SUCCESS) return rc;
  if (kh->master != Master::None) return ERROR_ACCESS_DENIED;
  Hive& h = *kh->hive;
  HiveFile& f = s.fileOf(h, kh->node);
  auto v = f.setValue(kh->node.id, name, type, data);
  if (!v) return fromHiveError(v.error());
  (void)f.setLastWritten(kh->node.id, nowFileTime());
  if (!kh->node.vol)
    s.journal(h, JournalOp{OpKind::SetValue, kh->physical, std::u16string(name), type,
                           std::vector<std::uint8_t>(data.begin(), data.end())});
  s.changed(h, kh->physical, REG_NOTIFY_CHANGE_LAST_SET);
  return ERROR_SUCCESS;
}

LSTATUS deleteValue(HKEY key, std::u16string_view name) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, KEY_SET_VALUE);
  if (rc != ERROR_SUCCESS) return rc;
  if (kh->master != Master::None) return ERROR_FILE_NOT_FOUND;
  Hive& h = *kh->hive;
  HiveFile& f = s.fileOf(h, kh->node);
  auto st = f.deleteValue(kh->node.id, name);
  if (!st) return fromHiveError(st.error());
  (void)f.setLastWritten(kh->node.id, nowFileTime());
  if (!kh->node.vol) s.journal(h, JournalOp{OpKind::DeleteValue, kh->physical, std::u16string(name), 0, {}});
  s.changed(h, kh->physical, REG_NOTIFY_CHANGE_LAST_SET);
  return ERROR_SUCCESS;
}

LSTATUS flushKey(HKEY key) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, 0);
  if (rc != ERROR_SUCCESS) return rc;
  if (kh->master != Master::None) {
    LSTATUS first = ERROR_SUCCESS;
    for (const auto& h : s.mountsOf(kh->master)) {
      LSTATUS r = s.save(*h);
      if (first == ERROR_SUCCESS) first = r;
    }
    return first;
  }
  return s.save(*kh->hive);
}

LSTATUS refreshKeyHive(HKEY key) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, 0);
  if (rc != ERROR_SUCCESS) return rc;
  if (kh->master != Master::None || !kh->hive) return ERROR_SUCCESS;
  if (kh->hive->shared && !kh->hive->path.empty()) s.reloadIfSavedElsewhere(*kh->hive);
  return ERROR_SUCCESS;
}

LSTATUS getSecurity(HKEY key, std::vector<std::uint8_t>* descriptor) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, 0);
  if (rc != ERROR_SUCCESS) return rc;
  if (kh->master != Master::None) {
    *descriptor = masterKeyDescriptor();
    return ERROR_SUCCESS;
  }
  auto sec = s.fileOf(*kh->hive, kh->node).security(kh->node.id);
  if (!sec) return fromHiveError(sec.error());
  *descriptor = std::move(sec.value());
  return ERROR_SUCCESS;
}

LSTATUS setSecurity(HKEY key, SECURITY_INFORMATION info, std::span<const std::uint8_t> descriptor) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  KeyHandle* kh;
  REGSAM need = 0;
  if (info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) need |= WRITE_OWNER;
  if (info & DACL_SECURITY_INFORMATION) need |= WRITE_DAC;
  rc = s.liveHandle(key, &kh, need);
  if (rc != ERROR_SUCCESS) return rc;
  if (info & SACL_SECURITY_INFORMATION) return ERROR_PRIVILEGE_NOT_HELD;
  if (kh->master != Master::None) return ERROR_ACCESS_DENIED;
  auto incoming = sd::parse(descriptor);
  if (!incoming) return ERROR_INVALID_PARAMETER;
  Hive& h = *kh->hive;
  HiveFile& f = s.fileOf(h, kh->node);
  auto current = f.security(kh->node.id);
  sd::Parts merged;
  if (current)
    if (auto p = sd::parse(*current)) merged = *p;
  if (info & OWNER_SECURITY_INFORMATION) {
    if (!incoming->owner) return ERROR_INVALID_PARAMETER;
    merged.owner = incoming->owner;
  }
  if (info & GROUP_SECURITY_INFORMATION) {
    if (!incoming->group) return ERROR_INVALID_PARAMETER;
    merged.group = incoming->group;
  }
  if (info & DACL_SECURITY_INFORMATION) {
    merged.dacl = incoming->dacl;
    const std::uint16_t daclBits = sd::SE_DACL_AUTO_INHERITED | sd::SE_DACL_PROTECTED | sd::SE_DACL_DEFAULTED;
    merged.control = std::uint16_t((merged.control & ~daclBits) | (incoming->control & daclBits));
  }
  std::vector<std::uint8_t> bytes = sd::compose(merged);
  auto st = f.setSecurity(kh->node.id, bytes);
  if (!st) return fromHiveError(st.error());
  if (!kh->node.vol) s.journal(h, JournalOp{OpKind::SetSecurity, kh->physical, {}, 0, bytes});
  s.changed(h, kh->physical, REG_NOTIFY_CHANGE_SECURITY);
  return ERROR_SUCCESS;
}

std::size_t openHandleCountForTests() {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  return store().handleCount();
}

LSTATUS notifyChange(HKEY key, bool watchSubtree, DWORD filter, HANDLE event) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  if (filter & ~(REG_LEGAL_CHANGE_FILTER | REG_NOTIFY_THREAD_AGNOSTIC)) return ERROR_INVALID_PARAMETER;
  if (key.value >= 0x80000000u && key.value <= 0x80000006u) {
    // A watch belongs to a handle; the predefined roots get one of their own
    // that lives as long as the store.
    auto known = s.rootWatchHandles.find(key.value);
    KeyHandle* existing = nullptr;
    if (known != s.rootWatchHandles.end() && s.liveHandle(known->second, &existing, KEY_NOTIFY) == ERROR_SUCCESS) {
      key = known->second;
    } else {
      HKEY own;
      Store::Base b;
      rc = s.baseOf(key, &b);
      if (rc != ERROR_SUCCESS) return rc;
      OpenRequest req;
      req.access = KEY_READ;
      rc = s.open(b, {}, req, &own, nullptr);
      if (rc != ERROR_SUCCESS) return rc;
      s.rootWatchHandles[key.value] = own;
      key = own;
    }
  }
  KeyHandle* kh;
  rc = s.liveHandle(key, &kh, KEY_NOTIFY);
  if (rc != ERROR_SUCCESS) return rc;
  auto ev = kernel::retainEvent(event);
  if (!ev) return ERROR_INVALID_HANDLE;
  kh->watch = Watch{ev, watchSubtree, filter & REG_LEGAL_CHANGE_FILTER};
  return ERROR_SUCCESS;
}

LSTATUS handleAccess(HKEY key, REGSAM* access) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  KeyHandle* kh;
  rc = store().liveHandle(key, &kh, 0);
  if (rc != ERROR_SUCCESS) return rc;
  *access = kh->access;
  return ERROR_SUCCESS;
}

LSTATUS keyNativeName(HKEY key, std::u16string* name) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  KeyHandle* kh;
  rc = store().liveHandle(key, &kh, 0);
  if (rc != ERROR_SUCCESS) return rc;
  Master m = kh->master != Master::None ? kh->master : kh->hive->master;
  std::u16string out = m == Master::Machine ? u"\\REGISTRY\\MACHINE" : m == Master::Users ? u"\\REGISTRY\\USER" : u"\\REGISTRY\\PERF";
  if (kh->master == Master::None) {
    out += u"\\" + kh->hive->mountName;
    for (const auto& c : kh->physical) out += u"\\" + c;
  }
  *name = std::move(out);
  return ERROR_SUCCESS;
}

namespace {

// The root a hive file may be mounted under: HKEY_LOCAL_MACHINE or HKEY_USERS.
bool mountMasterOf(HKEY root, Master* m) {
  if (root == HKEY_LOCAL_MACHINE) *m = Master::Machine;
  else if (root == HKEY_USERS) *m = Master::Users;
  else return false;
  return true;
}

}  // namespace

LSTATUS loadHive(HKEY root, std::u16string_view mountName, const std::filesystem::path& file) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  Master m;
  if (!mountMasterOf(root, &m)) return ERROR_INVALID_PARAMETER;
  if (mountName.empty() || file.empty() || mountName.find(u'\\') != std::u16string_view::npos ||
      mountName.size() > 255)
    return ERROR_INVALID_PARAMETER;
  if (!processPrivilegeEnabled(SE_RESTORE_NAME)) return ERROR_PRIVILEGE_NOT_HELD;
  if (s.findMount(m, mountName)) return ERROR_ALREADY_EXISTS;
  rc = s.mount(m, std::u16string(mountName), file, false, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  s.changedMaster(m);
  return ERROR_SUCCESS;
}

LSTATUS unloadHive(HKEY root, std::u16string_view mountName) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Master m;
  if (!mountMasterOf(root, &m)) return ERROR_INVALID_PARAMETER;
  if (mountName.empty() || mountName.find(u'\\') != std::u16string_view::npos) return ERROR_INVALID_PARAMETER;
  if (!processPrivilegeEnabled(SE_RESTORE_NAME)) return ERROR_PRIVILEGE_NOT_HELD;
  return store().unmount(m, mountName);
}

LSTATUS mountedHiveFile(HKEY root, std::u16string_view mountName, std::filesystem::path* file,
                        std::filesystem::path* given) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  if (rc != ERROR_SUCCESS) return rc;
  Master m;
  if (!mountMasterOf(root, &m)) return ERROR_INVALID_PARAMETER;
  const std::shared_ptr<Hive> h = store().findMount(m, mountName);
  if (!h || h->path.empty()) return ERROR_FILE_NOT_FOUND;
  *file = h->path;
  if (given) *given = h->given;
  return ERROR_SUCCESS;
}

namespace {

MountStatus statusOf(const Hive& h) {
  MountStatus st;
  st.root = h.master == Master::Users ? HKEY_USERS : HKEY_LOCAL_MACHINE;
  st.mountName = h.mountName;
  st.file = h.given.empty() ? h.path : h.given;  // the name the user gave
  st.defaultRegistry = h.shared;
  st.readOnly = h.readOnlyReason;
  st.accessChecks = h.accessChecks;
  return st;
}

}  // namespace

LSTATUS mountStatusOf(HKEY base, const Path& sub, MountStatus* status) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  if (rc != ERROR_SUCCESS) return rc;
  Store& s = store();
  Store::Base b;
  rc = s.baseOf(base, &b);
  if (rc != ERROR_SUCCESS) return rc;
  std::shared_ptr<Hive> h = b.hive;
  if (b.master == Master::Machine || b.master == Master::Users) {
    if (sub.empty()) return ERROR_FILE_NOT_FOUND;
    h = s.findMount(b.master, sub.front());
  }
  if (!h) return ERROR_FILE_NOT_FOUND;
  *status = statusOf(*h);
  return ERROR_SUCCESS;
}

std::vector<MountStatus> mountStatuses() {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  std::vector<MountStatus> out;
  if (rc != ERROR_SUCCESS) return out;
  for (Master m : {Master::Machine, Master::Users})
    for (const auto& h : store().mountsOf(m)) out.push_back(statusOf(*h));
  return out;
}

LSTATUS setMountAccessChecks(HKEY root, std::u16string_view mountName, bool on) {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  if (rc != ERROR_SUCCESS) return rc;
  Master m;
  if (!mountMasterOf(root, &m)) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Hive> h = store().findMount(m, mountName);
  if (!h) return ERROR_FILE_NOT_FOUND;
  if (h->shared) return on ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  h->accessChecks = on;
  return ERROR_SUCCESS;
}

std::filesystem::path registryFolder() {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  return store().folder();
}

LSTATUS flushAll() {
  LSTATUS rc;
  auto lock = lockedOpen(&rc);
  Store& s = store();
  LSTATUS first = ERROR_SUCCESS;
  for (Master m : {Master::Machine, Master::Users})
    for (const auto& h : s.mountsOf(m)) {
      LSTATUS r = s.save(*h);
      if (first == ERROR_SUCCESS) first = r;
    }
  return first;
}

void shutdownForTests() { store().shutdown(); }

}  // namespace platform::registry

namespace platform::kernel {
bool closeKeyHandle(HANDLE handle) { return registry::closeKey(HKEY(handle.value)) == ERROR_SUCCESS; }
}  // namespace platform::kernel
