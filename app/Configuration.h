#pragma once
// The configuration file "application.cfg": an 8-byte header (magic, seed)
// and a scrambled body holding the users, ports and devices sections.
//
// Load, save and the take-over of "app.cfg" show nothing: they return every
// outcome with the exact message the front end is to show.
//
// Where the file lives: beside the program where the program can write
// there (a build tree, a portable folder), else in the user's configuration
// folder ($XDG_CONFIG_HOME/tovik, by default ~/.config/tovik), or a file
// named explicitly. "app.cfg" belongs to a file named "application.cfg" and
// lies beside it. A running program holds a lock on its file.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/DeviceList.h"
#include "app/UsersMod.h"
#include "base/Files.h"
#include "ports/ProtoPortList.h"

namespace tovik {

inline constexpr uint32_t kConfigMagic = 0x8B439580u;
inline constexpr size_t kConfigHeaderSize = 8;
inline constexpr const char* kConfigFileName = "application.cfg";
// The previous version's file, and the copy left at every shut-down.
inline constexpr const char* kConfigCopyName = "app.cfg";
// The program's folder in the user's configuration folder.
inline constexpr const char* kConfigFolderName = "tovik";

// Shown as a plain message box; every other one as an error box.
inline constexpr const char* kMsgPreviousConfigFailed =
    "Ошибка загрузки конфигурации предыдущей версии программы.";
inline constexpr const char* kMsgConfigCannotOpen = "Невозможно открыть файл конфигурации.";
inline constexpr const char* kMsgConfigDamaged = "Файл конфигурации повреждён.";
inline constexpr const char* kMsgPortsLoadFailed = "Невозможно загрузить настройки портов.";
inline constexpr const char* kMsgDevicesLoadFailed = "Невозможно загрузить настройки устройств.";
inline constexpr const char* kMsgConfigCannotCreate = "Ошибка создания файла конфигурации.";
inline constexpr const char* kMsgConfigSaveFailed = "Не удалось сохранить конфигурационную информацию.";
// A second copy of the program started on a file that a running one holds.
inline constexpr const char* kMsgConfigInUse = "Файл конфигурации уже используется другой копией программы.";
inline constexpr const char* kMsgConfigInUseEnd = "Эта копия программы закрывается, ничего не изменив.";

// Registers the serial port class 193 and the device kinds 193..196, once
// per program.
void RegisterBuiltInKinds();

// Body byte i is stored as plain + k[i mod 4] * i + i (mod 256), k being the
// seed's bytes, least significant first, and i counted modulo 256.
uint8_t ScrambleOffset(uint32_t seed, size_t index);
// Writes the whole plain body (from its first byte) scrambled to `file`;
// false when the file took fewer bytes.
bool ScrambleBody(TMemoryStream& plain, TStream& file, uint32_t seed);
// Replaces `plain` by the unscrambled `stored` body; `plain` is left at 0.
void UnscrambleBody(TMemoryStream& stored, TMemoryStream& plain, uint32_t seed);

// The three lists the configuration fills and stores. Loaded ports and
// devices go to each list's load handler, or into the list when none is set.
struct TConfigLists {
    TUsers& Users;
    TProtoPortList& Ports;
    TDeviceList& Devices;
};

struct TMigrationResult {
    bool TookOver = false;              // "app.cfg" replaced "application.cfg"
    bool FromTemplate = false;          // the user's file was started from the template
    std::vector<std::string> Messages;  // plain message boxes
};

struct TLoadResult {
    bool Fatal = false;  // the application is to end after start-up
    uint32_t Seed = 0;
    bool UsersLoaded = false;
    bool PortsLoaded = false;
    bool DevicesLoaded = false;
    std::vector<std::string> Messages;  // error boxes, in order
    // The system's reason for the failed file operation behind the first
    // message ("Permission denied"); empty when a file operation did not fail.
    std::string Reason;
};

enum class TCopyPolicy {
    Always,    // the application's shut-down
    IfExists,  // a tool: keep an existing copy current, never create one
    Never,
};

struct TSaveOptions {
    TCopyPolicy Copy = TCopyPolicy::Always;
    // Closes the current panel once the file has been created, so that the
    // device has its layout back before it is written.
    std::function<void()> ClosePanel;
};

struct TSaveResult {
    // False: the file could not be created; nothing was written, no copy was
    // made, and the shut-down stops here.
    bool Created = false;
    bool Saved = false;  // the new file replaced the old one
    bool CopyRefreshed = false;
    uint32_t Seed = 0;
    std::vector<std::string> Messages;  // error boxes
    // The system's reason for the failed file operation behind the first
    // message; empty when a file operation did not fail.
    std::string Reason;
};

// A message box text: the message, and the system's reason on a line below.
std::string MessageWithReason(const std::string& message, const std::string& reason);
// A message about the configuration file: the message, the file's name on
// the line below, and the system's reason (if any) below that.
std::string ConfigFileMessage(const std::string& message, const std::string& path,
                              const std::string& reason = {});

// ---- where the file lives ----

enum class TConfigWhere {
    ProgramFolder,  // beside the program
    UserFolder,     // in the user's configuration folder
    Explicit,       // named by the user
};

struct TConfigPlace {
    std::string File;  // the configuration file
    // Its "app.cfg" beside it: taken over at the start, refreshed at the end.
    // Empty for a file of another name (the copy belongs to "application.cfg").
    std::string Copy;
    TConfigWhere Where = TConfigWhere::ProgramFolder;
    // In the user's folder, before the user has a file: the file beside the
    // program, which the user's file starts from.
    std::string Template;
};

// "application.cfg" and "app.cfg" in `dir`.
TConfigPlace ConfigPlaceIn(const std::string& dir);
// A file named explicitly, its copy beside it.
TConfigPlace ConfigPlaceOfFile(const std::string& file);

struct TConfigSearch {
    std::optional<std::string> ExplicitFile;
    std::string ProgramFolder;
    // The program's folder in the user's configuration folder; empty when
    // the user has none.
    std::string UserFolder;
    // Whether the program may write in a folder (CanWriteFolder).
    std::function<bool(const std::string& folder)> CanWrite;
};

// The search of the running program: its folder and the user's.
TConfigSearch DefaultConfigSearch(std::optional<std::string> explicitFile = std::nullopt);
// Where the configuration lives. Changes nothing on the disk: the user's
// folder is made by the program that is to write there.
TConfigPlace FindConfiguration(const TConfigSearch& search);
// The file a program that only reads the configuration (tovik-cli) loads.
std::string ConfigurationToRead(const TConfigPlace& place);

// The hold a running program has on its configuration file: the lock file
// "<file>.lock" beside the file the name leads to (links followed), so that
// two names of one file share one lock. None for a name that is no file.
TFileLock LockConfiguration(const std::string& file);
// The message of a program that finds its file held by another.
std::string ConfigInUseMessage(const std::string& file, const TFileLock& lock);

// ---- take-over, load and save ----

// "app.cfg" in `dir` replaces "application.cfg" and disappears. The copy is
// atomic, and "app.cfg" is only removed once the copy has succeeded. When
// "app.cfg" is a symbolic link, what it points to is removed and the link
// stays, so that the copy made at shut-down goes there again.
TMigrationResult MigratePreviousConfiguration(const std::string& dir);
// The same for a place; before that, a user's file that does not exist yet
// starts as a copy of the place's template.
TMigrationResult MigratePreviousConfiguration(const TConfigPlace& place);

// Loads "application.cfg" of `dir`. Anything but a regular file is refused
// without being read (ReadFileBytes).
TLoadResult LoadConfiguration(const std::string& dir, TConfigLists lists);
TLoadResult LoadConfigurationFile(const std::string& path, TConfigLists lists);
// The load of a file's whole contents.
TLoadResult LoadConfigurationBytes(const uint8_t* data, size_t size, TConfigLists lists);

// Saves into "application.cfg" of `dir` and leaves the "app.cfg" copy,
// both through ReplaceFile (base/Files.h): a failure at any point leaves the
// previous file whole, links are written through, and a file that may not
// be replaced counts as not created.
TSaveResult SaveConfiguration(const std::string& dir, TConfigLists lists, const TSaveOptions& options = {});
// The same for any file name; `copyPath` is the copy to refresh.
TSaveResult SaveConfigurationFile(const std::string& path, const std::string& copyPath, TConfigLists lists,
                                  const TSaveOptions& options = {});

// The plain body: the three sections in order. False when one failed.
bool BuildPlainBody(TConfigLists lists, TMemoryStream& plain);

// The end of the shut-down: every port's worker stopped, then the device,
// port and account lists released.
void ReleaseConfiguration(TConfigLists lists);

}  // namespace tovik
