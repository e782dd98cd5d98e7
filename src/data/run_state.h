#pragma once
#include <QString>
#include <array>
#include <functional>

namespace tarvelo::data {

// Lets pending window events run. The program wires it to the Qt event loop; tests script it.
using EventPump = std::function<void()>;

// Values given to the program at start-up.
struct StartupConfig {
    QString My_Branch;      // this branch's number, the No_Branch of its own rows
    QString Riv_Server;     // the server database's six-digit revision
    QString DB_Server_Ser;  // server database host, user, password and name
    QString DB_User_Ser;
    QString DB_Pas_Ser;
    QString DB_Name_Ser;
    QString Ip_Ser;         // the address pinged before synchronisation starts
    QString No_Dev;         // identifies this installation to the web service
    QString Url_Web;        // web-service base address, ending in "/test1/"
    QString Url_Downloads;  // downloads base address, ending in "/downloads/"
    QString file = QStringLiteral("config.ini");  // the file these came from, named in reason lines
};

// State that several subsystems read and write, kept for the life of the process.
struct RunState {
    StartupConfig config;
    bool Syn_Run = false;    // synchronisation switched on; the stop button clears it
    bool Syn_Stop = false;   // set when the server cannot be reached; the cycle leaves at its next check
    qint16 Syn_First = 0;    // 1 while the first synchronisation runs
    QString Kin_Yer;         // year code of record numbers, from the local project row
    qint16 Hijri_Adj = 0;    // days added before a date is written in the Hijri calendar
    qint32 Snd_Pass = 0;     // rows and requests of the current send pass
    qint32 Rec_Pass = 0;     // rows and requests of the current receive pass
    QString Time_Diff;       // server clock minus local clock, whole seconds as text; empty until measured
    std::array<QString, 21> Err_Fields;  // texts of the last error report
};

}  // namespace tarvelo::data
