// Tracking ids and logins of any kind (UTF-16 units, lone surrogates and
// NUL included): each is one folder name and one key name that reads back
// to it, two different ones never share a place, and a commit stores
// exactly where the places say, in files and in the registry.

#include <cstdint>
#include <cstdlib>

#include "platform/fake/fakes.h"
#include "tracking/lms.h"

namespace {

using zept::WideString;

void CheckName(const WideString& name) {
  const WideString folder = zept::StorageFolderName(name);
  const WideString key = zept::StorageKeyName(name);
  if (zept::DecodeStorageName(folder) != name) std::abort();
  if (zept::DecodeStorageName(key) != name) std::abort();
  if (folder.empty() != name.empty()) std::abort();
  for (char16_t c : folder) {
    if (c < 0x20 || c == 0x7F ||
        WideString(u"\\/:*?\"<>|").find(c) != WideString::npos)
      std::abort();
  }
  if (!folder.empty() && (folder.front() == u'.' || folder.front() == u' ' ||
                          folder.back() == u'.' || folder.back() == u' '))
    std::abort();
  for (char16_t c : key) {
    if (c < 0x20 || c == 0x7F || c == u'\\') std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  if (size < 1) return 0;
  WideString units;
  for (std::size_t i = 1; i + 1 < size; i += 2)
    units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  const std::size_t split = data[0] % (units.size() + 1);
  const WideString id = units.substr(0, split), login = units.substr(split);
  CheckName(id);
  CheckName(login);
  if (id != login && (StorageFolderName(id) == StorageFolderName(login) ||
                      StorageKeyName(id) == StorageKeyName(login)))
    std::abort();

  platform::FakePlatform fake;
  // No trace log: it would add files of its own.
  fake.registry.writeString(platform::RegistryRoot::CurrentUser,
                            u"Software\\vardeno\\Tesk Runtime", u"ModeDebug",
                            u"0");
  Context ctx(fake.platform);
  TParcours course;
  course.AddSCO(std::make_unique<TSCO>());
  for (const WideString mode : {u"file", u"reg"}) {
    TLMSAPI api(ctx, course);
    api.StorageMode = mode;
    api.TrackPath = u"/t";
    api.TrackingId = id;
    api.Login = login;
    api.LMSInitialize();
    api.LMSCommit();
    TLMSAPI again(ctx, course);
    again.StorageMode = mode;
    again.TrackPath = u"/t";
    again.TrackingId = id;
    again.Login = login;
    again.LMSLoad();
    if (again.Sessions.size() != (login.empty() ? 0u : 1u)) std::abort();
  }
  const WideString folder =
      id.empty() ? WideString(u"/t") : u"/t/" + StorageFolderName(id);
  const WideString tracking =
      login.empty() ? folder : folder + u"/" + StorageFolderName(login);
  if (fake.files.fileCount() != 2 || !fake.files.file(folder + u"/users.xml") ||
      !fake.files.file(tracking + u"/tracking.xml"))
    std::abort();
  const WideString key =
      id.empty() ? WideString(u"\\Software\\vardeno\\tracking")
                 : u"\\Software\\vardeno\\tracking\\" + StorageKeyName(id);
  const WideString trackingKey =
      login.empty() ? key : key + u"\\" + StorageKeyName(login);
  auto& reg = fake.registry;
  if (!reg.readString(platform::RegistryRoot::CurrentUser, key, u"users") ||
      !reg.readString(platform::RegistryRoot::CurrentUser, trackingKey,
                      u"tracking"))
    std::abort();
  return 0;
}
