#pragma once
// The cascading delete and the serial repair run the same statements on either database.
#include "data/database.h"

namespace tarvelo::sync {

struct DbSide {
    data::Database& db;
    bool server;

    bool open(data::RecordsetVar& rs, const QString& table, const QString& clause) const
    {
        return server ? db.Open_Rs_Ser(rs, table, clause) : db.Open_Rs_Loc(rs, table, clause);
    }
    bool openOrdered(data::RecordsetVar& rs, const QString& table, const QString& clause, const QString& order) const
    {
        return server ? db.Open_Rs_Ser_Where_Order(rs, table, clause, order)
                      : db.Open_Rs_Loc_Where_Order(rs, table, clause, order);
    }
    bool update(data::RecordsetVar& rs, const QString& assignments, const QString& table, const QString& clause) const
    {
        return server ? db.Update_Ser(rs, assignments, table, clause) : db.Update_Loc(rs, assignments, table, clause);
    }
    bool remove(data::RecordsetVar& rs, const QString& table, const QString& clause) const
    {
        return server ? db.Delete_Ser(rs, table, clause) : db.Delete_Loc(rs, table, clause);
    }
};

}  // namespace tarvelo::sync
