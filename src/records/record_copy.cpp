#include "records/record_copy.h"

#include "records/column_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace tarvelo::records {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

data::Recordset& requireRecordset(const data::RecordsetVar& rs, const char* which)
{
    if (!rs)
        throw data::DbError(QStringLiteral("the %1 recordset is not open").arg(QLatin1String(which)));
    return *rs;
}

// "20" in place of the first two characters, cut after the sixteenth.
QString redTimFrom(const QVariant& source)
{
    if (source.isNull())
        return QStringLiteral("20");
    const QString text = source.typeId() == QMetaType::QByteArray ? QString::fromUtf8(source.toByteArray())
                                                                  : source.toString();
    if (text.size() < 3)
        return QStringLiteral("20");
    return "20" + text.mid(2, 14);
}

qint16 settingNumber(const data::Recordset& source, QStringView column)
{
    if (source.isNull(column))
        throw ValueConversionError("the own branch_tab row holds no value in " + column.toString()
                                   + ": no number to read");
    try {
        return leadingInt16(source.text(column));
    } catch (const ValueConversionError& e) {
        throw ValueConversionError("the own branch_tab row's " + column.toString() + ": "
                                   + QString::fromStdString(e.what()));
    }
}

void ownBranchHook(RecordsContext& ctx, const data::Recordset& source)
{
    if (source.isNull(u"no_rec") || source.text(u"no_rec") != ctx.run.config.My_Branch)
        return;
    // Set one after another: a bad value ends the hook with the earlier settings already new.
    BranchSettings& b = ctx.branch;
    b.Bra_Only = settingNumber(source, u"kinSyn");
    b.Bra_Set1 = settingNumber(source, u"set1");
    b.Bra_Set2 = settingNumber(source, u"set2");
    b.Bra_Set3 = settingNumber(source, u"set3");
    b.Chk_Rec = 1;
    b.Chk_Del = 1;
    ctx.tables.setAllCounters(1);
}

}  // namespace

double leadingNumber(QStringView text)
{
    std::string mantissa;
    std::string exponent;
    bool negative = false;
    bool signSeen = false;
    bool pointSeen = false;
    bool digitSeen = false;
    qsizetype i = 0;
    const qsizetype n = text.size();
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (isBlank(c))
            continue;
        if (!signSeen && !digitSeen && !pointSeen && (c == u'-' || c == u'+')) {
            signSeen = true;
            negative = c == u'-';
        } else if (isDigit(c)) {
            digitSeen = true;
            mantissa += char(c.unicode());
        } else if (c == u'.' && !pointSeen) {
            pointSeen = true;
            mantissa += '.';
        } else {
            break;
        }
        signSeen = true;  // a sign counts only in front
    }
    if (!digitSeen)
        return 0.0;
    // An exponent counts only when at least one digit follows its letter (and optional sign).
    if (i < n && QStringLiteral("eEdD").contains(text[i])) {
        qsizetype j = i + 1;
        std::string exp;
        bool expNegative = false;
        bool expSign = false;
        for (; j < n; ++j) {
            const QChar c = text[j];
            if (isBlank(c))
                continue;
            if (!expSign && exp.empty() && (c == u'-' || c == u'+')) {
                expNegative = c == u'-';
                expSign = true;
                continue;
            }
            if (!isDigit(c))
                break;
            exp += char(c.unicode());
            expSign = true;
        }
        if (!exp.empty())
            exponent = (expNegative ? "e-" : "e") + exp;
    }
    const std::string all = mantissa + exponent;
    double value = 0.0;
    const auto r = std::from_chars(all.data(), all.data() + all.size(), value);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: which of the two follows from the decimal magnitude.
        long long magnitude = 0;
        const size_t point = mantissa.find('.');
        const std::string whole = mantissa.substr(0, point);
        const size_t firstNonZero = whole.find_first_not_of('0');
        if (firstNonZero != std::string::npos) {
            magnitude = static_cast<long long>(whole.size() - firstNonZero);
        } else if (point != std::string::npos) {
            const std::string fraction = mantissa.substr(point + 1);
            const size_t f = fraction.find_first_not_of('0');
            magnitude = f == std::string::npos ? -1000000 : -static_cast<long long>(f);
        }
        long long exp = 0;
        for (char c : exponent)
            if (c >= '0' && c <= '9')
                exp = std::min<long long>(exp * 10 + (c - '0'), 1000000);
        if (exponent.starts_with("e-"))
            exp = -exp;
        value = magnitude + exp > 0 ? HUGE_VAL : 0.0;
    }
    return negative ? -value : value;
}

qint16 leadingInt16(QStringView text)
{
    const double x = leadingNumber(text);
    double r = std::floor(x);
    const double rest = x - r;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(r, 2.0) != 0.0))
        r += 1.0;
    if (!(r >= -32768.0 && r <= 32767.0))
        throw ValueConversionError("\"" + text.toString() + "\" is outside -32768 to 32767");
    return qint16(r);
}

bool Copy_Reco(RecordsContext& ctx, const QString& treco)
{
    const TableColumns* row = findTableColumns(treco);
    if (!row)
        return true;
    if (row->entries.empty())
        return true;

    data::Recordset& source = requireRecordset(ctx.vars.Rs_Source, "source");
    data::Recordset& target = requireRecordset(ctx.vars.Rs_Target, "target");
    const QString& revision = ctx.run.config.Riv_Server;

    // A gated group is tested once where it begins; revisions compare as text, so an empty one is
    // below every gate.
    const char16_t* groupRevision = nullptr;
    bool groupCopied = true;
    for (const ColumnEntry& entry : row->entries) {
        if (entry.minRevision) {
            if (!groupRevision || QStringView(groupRevision) != QStringView(entry.minRevision)) {
                groupRevision = entry.minRevision;
                groupCopied = revision.compare(QStringView(entry.minRevision), Qt::CaseSensitive) >= 0;
            }
            if (!groupCopied)
                continue;
        } else {
            groupRevision = nullptr;
        }
        const QStringView column(entry.column);
        switch (entry.kind) {
        case EntryKind::Copy:
            target.setValue(column, source.value(column));
            break;
        case EntryKind::SetToOne:
            target.setValue(column, QStringLiteral("1"));
            break;
        case EntryKind::RedTimStamp:
            target.setValue(column, redTimFrom(source.value(column)));
            break;
        }
    }

    if (treco == u"branch_tab")
        ownBranchHook(ctx, source);
    return true;
}

}  // namespace tarvelo::records
