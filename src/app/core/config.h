#pragma once
#include "data/run_state.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace tarvelo::app {

// What the program is given at start-up, read from its configuration file.
struct ProgramConfig {
    data::StartupConfig startup;
    QString No_Dat;  // the installation's database number; empty when not configured
};

// The configuration file's keys, each the name of the value it sets.
namespace config_keys {
inline constexpr const char* Server = "DB_Server_Ser";
inline constexpr const char* User = "DB_User_Ser";
inline constexpr const char* Password = "DB_Pas_Ser";
inline constexpr const char* Database = "DB_Name_Ser";
inline constexpr const char* Branch = "My_Branch";
inline constexpr const char* Revision = "Riv_Server";
inline constexpr const char* PingAddress = "Ip_Ser";
inline constexpr const char* Device = "No_Dev";
inline constexpr const char* WebService = "Url_Web";
inline constexpr const char* Downloads = "Url_Downloads";
inline constexpr const char* DatabaseNumber = "No_Dat";
}  // namespace config_keys

// ${XDG_CONFIG_HOME:-$HOME/.config}/Tarvelo/config.ini
QString defaultConfigPath();

// Reads "key = value" lines (values taken literally after the first "=", blanks around them
// dropped; lines starting with "#" or ";" and "[section]" lines ignored) and checks every key's
// form. On failure `error` holds one message naming the file and every key missing, empty or
// malformed, and nothing is returned; `arabic`, when given, says the same in the window's language
// for a message box. A key the program does not know adds a warning naming it.
std::optional<ProgramConfig> loadConfig(const QString& path, QString& error, QStringList* warnings = nullptr,
                                        QString* arabic = nullptr);

}  // namespace tarvelo::app
