#pragma once
#include "data/indicators.h"

#include <QString>
#include <QStringView>
#include <array>

namespace tarvelo::records {

// The synchronised tables in processing order, with four pending-work counters per slot.
// Every walk over the tables runs from slot 0 through Tab_Count, both ends included.
struct TableList {
    static constexpr int Slots = 101;
    static constexpr int TableCount = 62;

    std::array<QString, Slots> Syn_Tabs{};
    qint16 Tab_Count = 0;
    std::array<qint32, Slots> Tab_Send{};
    std::array<qint32, Slots> Tab_Rece{};
    std::array<qint32, Slots> Tab_SendDel{};
    std::array<qint32, Slots> Tab_ReceDel{};
    qint16 Tab_Index = 0;

    // The slot whose name equals `table` exactly, letter case included; -1 when none does.
    int slotOf(QStringView table) const;
    // Raises a table's counter by 1; a name that is not in the list raises nothing.
    void raiseSend(QStringView table);
    void raiseRece(QStringView table);
    void raiseSendDel(QStringView table);
    void raiseReceDel(QStringView table);
    // Every slot from 0 through Tab_Count, all four counters.
    void setAllCounters(qint32 value);
};

// The 62 names in processing order.
const std::array<const char16_t*, TableList::TableCount>& synchronisedTables();

// Writes the names into their slots, appends each to the pick list and sets Tab_Count.
void Fill_Syn_Tabs(TableList& list, data::TextListModel& Combo3);

}  // namespace tarvelo::records
