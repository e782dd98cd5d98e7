#pragma once
#include "data/activity_log.h"
#include "data/database.h"
#include "data/error_log.h"
#include "data/run_state.h"
#include "data/settings_store.h"
#include "data/web_service.h"
#include "records/records_state.h"
#include "records/table_list.h"
#include "sync/branch_lock.h"
#include "sync/device_step.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <vector>
#include <QStringList>  // ledger and deletions
#include <map>          // ledger and deletions
#include <QSet>

namespace tarvelo::sync {

// ---------------------------------------------------------------------------------------------
// What the engine shows. The main window draws these models; tests read them.
// ---------------------------------------------------------------------------------------------

// A control array of labels addressed by index (Label2).
class LabelArrayModel : public QObject {
    Q_OBJECT
public:
    explicit LabelArrayModel(int count) : texts_(size_t(count)) {}
    int count() const { return int(texts_.size()); }
    QString text(int i) const { return texts_.at(size_t(i)); }
    void setText(int i, const QString& text)
    {
        texts_.at(size_t(i)) = text;
        emit changed(i, text);
    }
signals:
    void changed(int index, const QString& text);

private:
    std::vector<QString> texts_;
};

// One label or text field (Label7, Text4567).
class TextModel : public QObject {
    Q_OBJECT
public:
    const QString& text() const { return text_; }
    void setText(const QString& text)
    {
        text_ = text;
        emit changed(text);
    }
signals:
    void changed(const QString& text);

private:
    QString text_;
};

// The status label XXXK: a caption and a fore colour (blue-green-red, as the lamps).
class StatusLabelModel : public QObject {
    Q_OBJECT
public:
    static constexpr quint32 Red = 255;
    static constexpr quint32 Orange = 0x80FF;
    static constexpr quint32 Unpainted = 0xFFFFFFFF;

    const QString& caption() const { return caption_; }
    quint32 foreColor() const { return fore_; }
    void setCaption(const QString& caption)
    {
        caption_ = caption;
        emit changed();
    }
    void setForeColor(quint32 colour)
    {
        fore_ = colour;
        emit changed();
    }
signals:
    void changed();

private:
    QString caption_;
    quint32 fore_ = Unpainted;
};

// A busy image (ImgLoa, ImgSav): shown or hidden.
class ImageModel : public QObject {
    Q_OBJECT
public:
    bool isVisible() const { return visible_; }
    void setVisible(bool on)
    {
        if (visible_ == on)
            return;
        visible_ = on;
        emit visibleChanged(on);
    }
signals:
    void visibleChanged(bool visible);

private:
    bool visible_ = false;
};

// The progress bars LabD(0..4) (widths) and their markers LabD(5..9) (left edges), in twips.
// The window tells its own width; the engine moves the bars.
class ProgressModel : public QObject {
    Q_OBJECT
public:
    static constexpr int Bars = 5;
    int barWidth(int k) const { return widths_.at(size_t(k)); }
    int markerLeft(int k) const { return lefts_.at(size_t(k)); }  // marker LabD(k + 5)
    int windowWidth() const { return windowWidth_; }
    void setWindowWidth(int twips) { windowWidth_ = twips; }
    void setBarWidth(int k, int twips)
    {
        widths_.at(size_t(k)) = twips;
        emit changed();
    }
    void setMarkerLeft(int k, int twips)
    {
        lefts_.at(size_t(k)) = twips;
        emit changed();
    }
signals:
    void changed();

private:
    std::array<int, Bars> widths_{};
    std::array<int, Bars> lefts_{};
    int windowWidth_ = 12000;
};

// Every control the engine writes.
struct SyncWindow {
    LabelArrayModel Label2{8};  // 3: device state, 7: synchronisation state
    TextModel Label7;           // operation and row position
    TextModel Text4567;         // trace: the running operation and the cycle's step markers
    StatusLabelModel XXXK;
    ImageModel ImgLoa;
    ImageModel ImgSav;
    ProgressModel LabD;
};

// ---------------------------------------------------------------------------------------------
// The engine's own state, kept for the life of the process.
// ---------------------------------------------------------------------------------------------
struct SyncState {
    qint16 Syn_AllPass = 0;   // 1: the next receive pass reads every row, not only newer ones
    bool Bra_Changed = false;      // the receive pass added a branch_tab row
    std::array<QString, 2> Work_Mark{};  // change-queue marks: lower bound, last row read
    qint32 Cnt_Send = 0;      // records sent since the last statistics notice
    qint32 Cnt_Rece = 0;      // records received since then
    qint32 Cnt_Check = 0;     // resolution steps in this cycle; the cycle bookkeeping resets it
    qint64 Sent_Again = 0;    // records this process sent again, with their families, after an
                              // all-accepted deletion met a copy that must stay here
    qint64 Families_Taken = 0;  // records whose members the server lacked, marked to go back with them
    QString Name_Tab;         // hand-over name of a calling application, empty when run alone
    QString Atten_Mark;       // newest DTNow of the local ledger at the last update
    bool Program_Ended = false;  // the hand-over check ordered the end of the program
    QString Last_Stamp;       // the last server stamp this branch made

    // --- ledger and deletions ---
    // Active branches other than this one, from the last branch list read in full; only their
    // answers are counted, and "no other branch" is decided only from such a read.
    QStringList Ans_Branches;
    bool Ans_Branches_Known = false;
    // Reference-check look-ups of tables and columns ("table" or "table.column"): whether they exist.
    std::map<QString, bool> Ref_Exists;
    // This branch's announcements stored by the web service and not yet copied back into the
    // local ledger ("treco\nNoRec\nSynLast\nkin1"): their copy needs no look at the record. Only a
    // shortcut: what is not here is judged from the record itself.
    QSet<QString> Announced;
    // Ledger rows no pass can act on, already logged by this process.
    QSet<QString> Ledger_Logged;
    // The lock that keeps other copies from synchronising this branch database meanwhile.
    BranchLock Branch_Lock;
    QString Busy_Replaced;  // the state text (Label2 7) that the second-copy text stands in for
    // Per table, the master its receive pass stops at because that master's details are not all
    // here, and since when; the rows after it wait with it.
    struct HeldUp {
        QString noRec, branch;
        QDateTime since;
        bool logged = false;  // its reason line is written, so its end is too
    };
    std::map<QString, HeldUp> Held_Up;
};

// The references the engine works through, built once by the program (or a test per branch).
struct SyncContext {
    data::RunState& run;  // Syn_Run, Syn_Stop, Syn_First, Snd_Pass, Rec_Pass, Time_Diff, config
    data::Database& db;
    data::WebService& web;
    data::ActivityLogs& logs;
    data::ErrorLog& errors;
    data::SettingsStore& settings;
    records::TableList& tables;
    records::BranchSettings& branch;  // Bra_Only, Chk_Rec, Chk_Del
    records::RecordsetVars& vars;
    SyncState& state;
    SyncWindow& window;
    data::EventPump pump;                 // lets pending window events run
    std::function<void()> exitProgram;    // ends the process at once (the hand-over check)
    DeviceStep* devices = nullptr;        // nullptr: no attendance devices
    std::function<QDateTime()> clock = {};  // local clock; empty: the machine's

    records::RecordsContext records() { return {run, db, tables, branch, vars}; }
    QDateTime now() const { return clock ? clock() : QDateTime::currentDateTime(); }
    void pumpEvents() const
    {
        if (pump)
            pump();
    }
};

}  // namespace tarvelo::sync
