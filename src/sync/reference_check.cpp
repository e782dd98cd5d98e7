#include "sync/engine.h"
#include "sync/ledger_rows.h"

#include <initializer_list>
#include <vector>

namespace tarvelo::sync {

using ledger::lit;

namespace {

// One count: rows of `table` whose reference columns hold the record's number. The invoice's two
// counts carry an extra condition.
enum class Extra { None, InbillNotKind2, OtherInvoice };
struct Count {
    QString table;
    QStringList columns;
    Extra extra = Extra::None;
};
struct References {
    QString treco;
    std::vector<Count> counts;
};

QStringList numbered(const QString& stem, int last)
{
    QStringList out;
    for (int i = 1; i <= last; ++i)
        out << stem + QString::number(i);
    return out;
}

// Who may still name a record of each table, counted in this order.
const std::vector<References>& referenceList()
{
    static const std::vector<References> list = [] {
        std::vector<References> l;
        l.push_back({"branch_tab",
                     {{"store_tab", {"No_Branch_1"}}, {"secti_tab", {"No_Branch_1"}},
                      {"findev_tab", {"No_Branch_1"}}, {"user_tab", {"No_Branch_1"}},
                      {"sheft_tab", {"No_Branch_1"}}, {"docum_tab", {"No_Branch_1"}},
                      {"rst_tab", {"No_Branch_1"}}}});
        l.push_back({"account_tab",
                     {{"custody_tab", {"No_1_acc", "No_2_acc", "No_3_acc"}},
                      {"account_tab", {"No_Account_1"}},
                      {"equa_tab", {"No_Account"}},
                      {"kincust_tab", {"No_1_acc", "No_2_acc", "No_3_acc"}},
                      {"stoccat_tab", {"NoPurAcc", "NoSalAcc", "NoRPurAcc", "NoRSalAcc"}},
                      {"accreg_tab", {"noAccMad", "noAccDai"}},
                      {"inbill_tab", {"No_Account"}},
                      {"invoice_tab",
                       {"NocusAcc", "no_acc1", "no_acc2", "no_acc3", "no_acc4", "no_acc5", "no_acc6",
                        "no_acc7"}},
                      {"kinregr_tab", {"no_account"}},
                      {"rowacc_tab", {"No_Account"}},
                      {"rowvoi_tab", {"noAccMad", "noAccDai"}},
                      {"stock_tab", {"NoPurAcc", "NoSalAcc", "NoRPurAcc", "NoRSalAcc"}},
                      {"user_tab",
                       {"No_salar_acc", "No_commi_acc", "No_1_acc", "No_2_acc", "No_3_acc", "No_4_acc",
                        "No_5_acc", "No_6_acc", "No_Cash_acc", "No_visa_acc", "No_netwo_acc"}}}});
        l.push_back({"user_tab",
                     {{"account_tab", {"No_Accrec"}}, {"assign_tab", {"No_User_1"}},
                      {"custody_tab", {"No_Accrec"}}, {"docum_tab", {"No_User_1"}},
                      {"gzam_tab", {"No_User_1"}}, {"redfing_tab", {"No_User_1"}},
                      {"sendfing_tab", {"No_User_1"}}, {"invoice_tab", {"No_Accrec", "No_Accrec1"}},
                      {"rowvoi_tab", {"no_accrec"}}, {"rst_tab", {"No_User_1"}},
                      {"advan_tab", {"No_user_1"}}, {"inbill_tab", {"no_accrec"}}}});
        l.push_back({"invoice_tab",
                     {{"inbill_tab", {"No_Bill"}, Extra::InbillNotKind2},
                      {"invoice_tab", {"OldVoi"}, Extra::OtherInvoice}}});
        l.push_back({"inbill_tab", {{"invoice_tab", {"No_InBill"}}}});
        l.push_back({"secti_tab",
                     {{"user_tab", {"No_Secti"}}, {"rst_tab", {"No_Secti"}}, {"sheft_tab", {"No_Secti"}}}});
        l.push_back({"gzakin_tab", {{"gzam_tab", {"No_GzaKin"}}}});
        l.push_back({"findev_tab",
                     {{"rst_tab", {"No_FinDev"}}, {"sendev_tab", {"No_FinDev"}}, {"redfing_tab", {"No_FinDev"}},
                      {"sendfing_tab", {"No_FinDev"}}, {"user_tab", {"No_FinDev"}}}});
        l.push_back({"factory_tab",
                     {{"stock_tab", {"No_Factory"}}, {"modl_tab", {"No_Factory"}},
                      {"rowvoi_tab", {"No_Factory"}}}});
        l.push_back({"stoccat_tab",
                     {{"stock_tab", {"No_StocCat"}}, {"rowvoi_tab", {"No_StocCat"}},
                      {"stoccat_tab", {"No_StocCat_1"}}}});
        l.push_back({"stock_tab", {{"rowvoi_tab", {"NoRow"}}}});
        l.push_back({"modlx_tab",
                     {{"modlt_tab", {"no_factory"}}, {"stocinf_tab", numbered("modlc", 14)},
                      {"stoccat_tab", numbered("modl", 14)}}});
        l.push_back({"modlt_tab", {{"stocinf_tab", numbered("modlt", 14)}}});
        l.push_back({"store_tab",
                     {{"invoice_tab", {"No_store"}}, {"user_tab", {"No_store"}}, {"stoccat_tab", {"No_store"}},
                      {"rowvoi_tab", {"No_store"}}}});
        l.push_back({"bank_tab", {{"user_tab", {"so10"}}}});
        l.push_back({"city_tab",
                     {{"user_tab", {"so3"}}, {"user_tab", {"so1"}}, {"side_tab", {"No_City"}},
                      {"inscon_tab", {"No_City"}}, {"branch_tab", {"No_City"}}, {"docum_tab", {"No_City"}}}});
        l.push_back({"educ_tab", {{"user_tab", {"so4"}}}});
        l.push_back({"inco_tab", {{"user_tab", {"so9"}}}});
        l.push_back({"livi_tab", {{"user_tab", {"so5"}}}});
        l.push_back({"nati_tab", {{"user_tab", {"so2"}}}});
        l.push_back({"side_tab", {{"user_tab", {"so8"}}}});
        l.push_back({"soci_tab", {{"user_tab", {"so7"}}}});
        l.push_back({"tran_tab", {{"user_tab", {"so6"}}}});
        l.push_back({"jops_tab", {{"user_tab", {"No_Jops"}}}});
        l.push_back({"sheft_tab", {{"user_tab", {"No_Sheft"}}}});
        l.push_back({"unit_tab",
                     {{"stock_tab", {"no_unit_1", "no_unit_2", "no_unit_3", "no_unit_4"}},
                      {"rowvoi_tab", {"no_unit"}}}});
        l.push_back({"kindoc_tab", {{"docum_tab", {"no_kindoc"}}}});
        return l;
    }();
    return list;
}

// Whether a table or column is there, asked once per process: the schema only changes with an
// application update, which restarts the program. A failed look-up is not remembered.
std::optional<bool> exists(SyncContext& ctx, const QString& table, const QString& column = {})
{
    const QString key = column.isEmpty() ? table.toLower() : table.toLower() + u'.' + column.toLower();
    auto& cache = ctx.state.Ref_Exists;
    if (const auto it = cache.find(key); it != cache.end())
        return it->second;
    const std::optional<bool> found =
        column.isEmpty() ? ctx.db.Table_Exists_Loc(table) : ctx.db.Column_Exists_Loc(table, column);
    if (found)
        cache[key] = *found;
    return found;
}

}  // namespace

std::optional<bool> Check_Dele_Named(SyncContext& ctx, const QString& treco, const QString& no_rec)
{
    try {
        const References* refs = nullptr;
        for (const References& r : referenceList())
            if (treco == r.treco)
                refs = &r;
        if (!refs)
            return false;
        const QString value = lit(no_rec);
        for (const Count& c : refs->counts) {
            const QString& table = c.table;
            // Only a table or column this database lacks is no reference; not knowing decides nothing.
            const std::optional<bool> hasTable = exists(ctx, table);
            if (!hasTable)
                return std::nullopt;
            if (!*hasTable)
                continue;
            QStringList terms;
            for (const QString& column : c.columns) {
                const std::optional<bool> hasColumn = exists(ctx, table, column);
                if (!hasColumn)
                    return std::nullopt;
                if (*hasColumn)
                    terms << column + " = " + value;
            }
            if (terms.isEmpty())
                continue;
            QString clause = "where " + terms.join(QStringLiteral(" or "));
            if (c.extra == Extra::InbillNotKind2) {
                // Without the kind column every bill that names the invoice refers to it.
                const std::optional<bool> hasKind = exists(ctx, table, QStringLiteral("KinBil"));
                if (!hasKind)
                    return std::nullopt;
                if (*hasKind)
                    clause += QStringLiteral(" and (KinBil is null or KinBil <> '2')");
            } else if (c.extra == Extra::OtherInvoice) {
                clause = "where No_Rec <> " + value + " and (" + terms.join(QStringLiteral(" or ")) + u')';
            }
            const std::optional<qint64> rows = ctx.db.Count_Rows_Loc(table, clause);
            if (!rows || *rows > 0)
                return rows ? std::optional<bool>(true) : std::nullopt;
        }
        return false;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool Check_Dele_Other(SyncContext& ctx, const QString& treco, const QString& no_rec)
{
    const std::optional<bool> named = Check_Dele_Named(ctx, treco, no_rec);
    return named && !*named;
}

}  // namespace tarvelo::sync
