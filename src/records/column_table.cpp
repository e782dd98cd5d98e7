#include "records/column_table.h"

#include <iterator>

namespace tarvelo::records {
namespace {

// Table-specific columns only: the common columns and the master/detail link columns are written by the
// synchronisation engine itself and never appear here. Tables without a row below (Aweb_tab) and rows with
// no entries carry nothing beyond those.
//
// Gated entries name the minimum server database revision that has the column; consecutive entries with
// the same revision form one group that the copy tests once.

constexpr ColumnEntry accbud_tab[] = {
    {u"rs"}, {u"lastbud"}, {u"kin2"}, {u"dateto"}, {u"kin1"}, {u"kin3"},
};

constexpr ColumnEntry account_tab[] = {
    {u"No_Account_1"}, {u"KinAcc2"}, {u"KinAcc4"}, {u"KinAccCus"}, {u"KinAccRep"}, {u"No_accRec"}, {u"Deb_Cre"},
    {u"UpRs"}, {u"Acclevel"}, {u"AccDef"},
};

constexpr ColumnEntry accreg_tab[] = {
    {u"NoAccMAd"}, {u"NoAccDai"}, {u"RsNet"}, {u"NamCus"}, {u"DatBil"}, {u"TimBil"}, {u"KinBil"}, {u"No_User"},
};

constexpr ColumnEntry assign_tab[] = {
    {u"NotT"}, {u"FromT"}, {u"TOT"}, {u"No_user_1"}, {u"kin"},
};

constexpr ColumnEntry docum_tab[] = {
    {u"NoID"}, {u"FromD"}, {u"ToD"}, {u"No_kindoc"}, {u"No_city"}, {u"No_user_1"}, {u"No_aweb"},
    {u"No_branch_1"},
};

constexpr ColumnEntry kinregr_tab[] = {
    {u"No_Account"},
};

// The own-branch hook reads kinSyn and set1..set3 of this row after the copy.
constexpr ColumnEntry branch_tab[] = {
    {u"Ntel"}, {u"Nfax"}, {u"NAddres"}, {u"kin"}, {u"No_city"}, {u"LeNo"}, {u"LaNo"}, {u"set1"}, {u"set2"},
    {u"set3"}, {u"webkin"}, {u"kinSyn"},
};

constexpr ColumnEntry city_tab[] = {
    {u"LeNo"}, {u"LaNo"},
};

// Older server databases lack these columns, so the whole row waits for 010196.
constexpr ColumnEntry custody_tab[] = {
    {u"TextN1", u"010196"}, {u"TextN2", u"010196"}, {u"TextN3", u"010196"}, {u"TextN4", u"010196"},
    {u"TextN5", u"010196"}, {u"TextN6", u"010196"}, {u"TextN7", u"010196"}, {u"TextN8", u"010196"},
    {u"no_kincust", u"010196"}, {u"No_accRec", u"010196"}, {u"kin1", u"010196"}, {u"No_1_acc", u"010196"},
    {u"No_2_acc", u"010196"}, {u"No_3_acc", u"010196"},
};

constexpr ColumnEntry equa_tab[] = {
    {u"kin"},
};

constexpr ColumnEntry findev_tab[] = {
    {u"No_branch_1"}, {u"texIP"}, {u"texPort"}, {u"kin"}, {u"kin2"},
};

constexpr ColumnEntry gzakin_tab[] = {
    {u"Tex1"}, {u"Tex2"},
};

constexpr ColumnEntry gzam_tab[] = {
    {u"No_GzaKin"}, {u"No_user_1"}, {u"DateF"}, {u"DateT"}, {u"kin"}, {u"Tex1"}, {u"KinMng"}, {u"textman"},
};

constexpr ColumnEntry inbill_tab[] = {
    {u"KinBil"}, {u"KinSho"}, {u"No_Bill"}, {u"DatBil"}, {u"TimBil"}, {u"RsNet"}, {u"No_Account"},
    {u"No_accRec"}, {u"NamCus"}, {u"AmoCas"}, {u"kin2"}, {u"AmoCas2"}, {u"AmoCas3"}, {u"Tex1"}, {u"Tex2"},
    {u"Tex3"}, {u"Tex4"}, {u"DatBil2"}, {u"DatBil3"},
};

constexpr ColumnEntry invoice_tab[] = {
    {u"kin"}, {u"CunPas"}, {u"no_inbill"}, {u"No_Store"}, {u"No_accRec"}, {u"No_Accrec1"}, {u"NamCus"},
    {u"nocus"}, {u"OldNo"}, {u"DateOld"}, {u"DateRs"}, {u"KinVoi"}, {u"DatVoi"}, {u"TimVoi"}, {u"AmoAdd"},
    {u"AmoDis"}, {u"AmoCas"}, {u"NTotal"}, {u"NNet"}, {u"NRest"}, {u"CouItime"}, {u"NoCusAcc"}, {u"No_Equa"},
    {u"No_Acc1"}, {u"No_Acc2"}, {u"No_Acc3"}, {u"No_Acc4"}, {u"No_Acc5"}, {u"No_Acc6"}, {u"No_Acc7"}, {u"Rs1"},
    {u"Rs2"}, {u"Rs3"}, {u"Rs4"}, {u"Rs5"}, {u"Rs6"}, {u"Rs7"}, {u"NComent"}, {u"No_cust1"}, {u"No_cust2"},
    {u"cust3"}, {u"cust4"}, {u"cust5"}, {u"LastCust"}, {u"totcou2"}, {u"Tvat"}, {u"No_User"},
};

constexpr ColumnEntry kincust_tab[] = {
    {u"No_1_acc"}, {u"No_2_acc"}, {u"No_3_acc"}, {u"TextN1"}, {u"TextN2"}, {u"TextN3"}, {u"TextN4"},
    {u"TextN5"}, {u"TextN6"}, {u"TextN7"}, {u"TextN8"},
};

constexpr ColumnEntry modlt_tab[] = {
    {u"No_Factory"}, {u"kin"},
};

constexpr ColumnEntry modlx_tab[] = {
    {u"kin"},
};

constexpr ColumnEntry modl_tab[] = {
    {u"No_Factory"},
};

constexpr ColumnEntry mreport_tab[] = {
    {u"Na_Kin"}, {u"Ne_Kin"}, {u"PasWor"}, {u"Hpar1"}, {u"Hpar2"}, {u"Hpar3"}, {u"Hpar4"}, {u"Hpar5"},
    {u"Lpar"}, {u"kin1"}, {u"kin2"}, {u"kin3"},
};

constexpr ColumnEntry picstream_tab[] = {
    {u"pic_name"}, {u"pic_last"}, {u"NoID"}, {u"rec_tab"}, {u"NoR"}, {u"Fld_Picture"},
};

// NoDat and the Custevalu columns exist on the server only from 010217 on.
constexpr ColumnEntry proj_tab[] = {
    {u"Fld_Picture"}, {u"file_name"}, {u"IDCom"}, {u"FroIDCom"}, {u"DatIDCom"}, {u"TelCom"}, {u"FaxCom"},
    {u"MilCom"}, {u"addCom"}, {u"CludPro"}, {u"NoVAT"}, {u"VTax1"}, {u"NTax1"}, {u"VTax2"}, {u"NTax2"},
    {u"KinYer"}, {u"UserSms"}, {u"PasSms"}, {u"NamSen"}, {u"KinDate"}, {u"sti_invoice"},
    {u"NoDat", u"010217"}, {u"Custevalu1", u"010217"}, {u"Custevalu2", u"010217"}, {u"Custevalu3", u"010217"},
    {u"Custevalu4", u"010217"}, {u"Custevalu5", u"010217"}, {u"Custevalu6", u"010217"},
    {u"Custevalu7", u"010217"}, {u"Custevalu8", u"010217"}, {u"Custevalu9", u"010217"},
    {u"Custevalu10", u"010217"},
};

constexpr ColumnEntry rowacc_tab[] = {
    {u"No_Rec2"}, {u"NoRow"}, {u"kin"}, {u"KinCus"}, {u"KinRow"}, {u"KinDet"}, {u"Reve"}, {u"NoVoi_2"},
    {u"NoVoi_3"}, {u"KinVoi"}, {u"No_Account"}, {u"No_User"}, {u"Rs_1"}, {u"Rs_2"}, {u"Date_Acc"},
    {u"Time_Acc"},
};

constexpr ColumnEntry rowbud_tab[] = {
    {u"Text1"}, {u"Text2"}, {u"Text3"}, {u"Text4"}, {u"Text5"}, {u"Text6"}, {u"Text7"}, {u"Text8"},
};

constexpr ColumnEntry branchsyn_tab[] = {
    {u"New_C"}, {u"Del_C"}, {u"New_R"}, {u"Del_R"}, {u"FromD"}, {u"ToD"}, {u"DDiff"},
};

constexpr ColumnEntry sendev_tab[] = {
    {u"No_findev"}, {u"LasDateG"},
};

// red_rec and red_tim are written by the copy rather than carried: red_rec becomes "1", red_tim gets the
// prefix "20" in place of its first two characters.
constexpr ColumnEntry notic_tab[] = {
    {u"No_Note"}, {u"Tabl_Note"},
    {u"red_rec", nullptr, EntryKind::SetToOne},
    {u"red_tim", nullptr, EntryKind::RedTimStamp},
};

constexpr ColumnEntry advan_tab[] = {
    {u"No_user_1"}, {u"Rs1"}, {u"Rs2"}, {u"Rs3"}, {u"KinMng"}, {u"textman"},
};

constexpr ColumnEntry rowshef_tab[] = {
    {u"Tex1"}, {u"Tex2"}, {u"Tex3"}, {u"Tex4"},
};

constexpr ColumnEntry rowvoi_tab[] = {
    {u"OldVoi"}, {u"kin"}, {u"Weit"}, {u"NoRow"}, {u"KinVoi"}, {u"NParcode"}, {u"Pri"}, {u"Pri2"}, {u"Cou"},
    {u"TotCou"}, {u"No_accRec"}, {u"NoAccMAd"}, {u"NoAccDai"}, {u"CouIn"}, {u"CouOut"}, {u"TotIn"}, {u"TotOut"},
    {u"totcou2"}, {u"LastCust"}, {u"No_Store"}, {u"No_Factory"}, {u"No_StocCat"}, {u"No_Unit"}, {u"DatVoi"},
    {u"NModel"}, {u"NSreal"}, {u"Stock_Cuon"}, {u"KinSto"}, {u"Vat"}, {u"Tvat"}, {u"No_M_Stock"}, {u"No_User"},
};

// No_user_1 and No_User are distinct columns.
constexpr ColumnEntry rst_tab[] = {
    {u"No_branch_1"}, {u"No_user_1"}, {u"NoUser"}, {u"No_findev"}, {u"DateLog"}, {u"KinMng"}, {u"TimeDate"},
    {u"KinSave"}, {u"kin"}, {u"kin2"}, {u"Tex1"}, {u"Tex2"}, {u"Tex3"}, {u"Tex4"}, {u"Tex5"}, {u"Tex6"},
    {u"Tex7"}, {u"No_Rec2"}, {u"No_Rec3"}, {u"No_Sheft"}, {u"No_Jops"}, {u"No_Secti"}, {u"No_User"},
};

constexpr ColumnEntry secti_tab[] = {
    {u"No_branch_1"},
};

constexpr ColumnEntry serim_tab[] = {
    {u"kin"}, {u"kin2"}, {u"No_stock"}, {u"No_seri"}, {u"No_Store"},
};

constexpr ColumnEntry seri_tab[] = {
    {u"kin"}, {u"kin2"}, {u"No_stock"}, {u"No_seri"}, {u"No_Store"},
};

constexpr ColumnEntry sheftrow_tab[] = {
    {u"NoKin"}, {u"NoDay"}, {u"KTime"}, {u"NTime"}, {u"RTime"}, {u"FTime"}, {u"NBrek"}, {u"NTop"}, {u"Ntop2"},
    {u"XTime"},
};

constexpr ColumnEntry sheft_tab[] = {
    {u"No_Jops"}, {u"No_Secti"}, {u"No_branch_1"}, {u"No_city"}, {u"LeNo"}, {u"LaNo"}, {u"TimD"}, {u"TimM"},
    {u"TimY"}, {u"Timpry"}, {u"Timpry1"}, {u"Timpry2"}, {u"Timpry3"}, {u"Timpry4"}, {u"TimLog"}, {u"TimOut"},
    {u"TimAge"}, {u"TimAbs"}, {u"TimDel"}, {u"TimOve"}, {u"TimBre"}, {u"Ofer"}, {u"TimCuo1"}, {u"TimCuo2"},
    {u"TimCuo3"}, {u"TimCuo4"}, {u"TimCuo5"}, {u"TimCuo6"}, {u"TimCuo7"}, {u"TimCuo8"},
};

// T8 and T9 exist on the server only from 010218 on.
constexpr ColumnEntry side_tab[] = {
    {u"CunPas"}, {u"SO1"}, {u"T2"}, {u"T3"}, {u"T4"}, {u"T5"}, {u"T6"}, {u"T7"},
    {u"T8", u"010218"}, {u"T9", u"010218"},
};

constexpr ColumnEntry sreport_tab[] = {
    {u"Fld_Picture"}, {u"par"}, {u"BackColor"}, {u"ForeColor"}, {u"FontName"}, {u"BorderColor"}, {u"Alignment"},
    {u"RightToLeft"}, {u"BackStyle"}, {u"BorderStyle"}, {u"Shape"}, {u"BorderWidth"}, {u"FontSize"},
    {u"FontBold"}, {u"FontItalic"}, {u"FontUnderline"}, {u"FontStrikethru"}, {u"TextData"}, {u"kin1"},
    {u"Kin4"}, {u"WCon"}, {u"HCon"}, {u"TCon"}, {u"LCon"},
};

constexpr ColumnEntry stoccat_tab[] = {
    {u"modl1"}, {u"modl2"}, {u"modl3"}, {u"modl4"}, {u"modl5"}, {u"modl6"}, {u"modl7"}, {u"modl8"}, {u"modl9"},
    {u"modl10"}, {u"modl11"}, {u"modl12"}, {u"modl13"}, {u"modl14"}, {u"web1"}, {u"No_StocCat_1"},
    {u"N1_StocCat_1"}, {u"N1_stoccat"}, {u"KinSto"}, {u"kintch"}, {u"file_name"}, {u"Fld_Picture"},
    {u"No_Store"}, {u"NoPurAcc"}, {u"NoSalAcc"}, {u"NoRPurAcc"}, {u"NoRSalAcc"},
};

constexpr ColumnEntry stocgro_tab[] = {
    {u"no_whe1"}, {u"no_whe2"}, {u"kin"}, {u"Pri1"}, {u"Pri2"}, {u"Pri3"}, {u"Parcode"}, {u"cunt"},
};

constexpr ColumnEntry stocinf_tab[] = {
    {u"modlc1"}, {u"modlc2"}, {u"modlc3"}, {u"modlc4"}, {u"modlc5"}, {u"modlc6"}, {u"modlc7"}, {u"modlc8"},
    {u"modlc9"}, {u"modlc10"}, {u"modlc11"}, {u"modlc12"}, {u"modlc13"}, {u"modlc14"}, {u"modlt1"}, {u"modlt2"},
    {u"modlt3"}, {u"modlt4"}, {u"modlt5"}, {u"modlt6"}, {u"modlt7"}, {u"modlt8"}, {u"modlt9"}, {u"modlt10"},
    {u"modlt11"}, {u"modlt12"}, {u"modlt13"}, {u"modlt14"},
};

constexpr ColumnEntry stock_tab[] = {
    {u"web1"}, {u"web2"}, {u"web3"}, {u"web4"}, {u"webinfo1"}, {u"webinfo2"}, {u"webinfo3"}, {u"BVat"},
    {u"SVat"}, {u"Weit"}, {u"StSr"}, {u"ToSr"}, {u"KinSto"}, {u"KinSto2"}, {u"KinSto3"}, {u"KinSto4"},
    {u"KinSto5"}, {u"WarKin1"}, {u"WarKin2"}, {u"UpCou"}, {u"DoCou"}, {u"WarCou"}, {u"Sect1"}, {u"Sect2"},
    {u"PasCou"}, {u"NoPurAcc"}, {u"NoSalAcc"}, {u"NoRPurAcc"}, {u"NoRSalAcc"}, {u"No_Unit_1"}, {u"No_modl"},
    {u"modl1"}, {u"modl2"}, {u"No_Color"}, {u"kintch"}, {u"file_name"}, {u"Fld_Picture"}, {u"No_Store"},
    {u"Pri11"}, {u"Pri121"}, {u"Pri122"}, {u"Pri131"}, {u"Pri132"}, {u"Pri141"}, {u"Pri142"}, {u"Pri151"},
    {u"Pri152"}, {u"Pri21"}, {u"Pri221"}, {u"Pri222"}, {u"Pri231"}, {u"Pri232"}, {u"Pri241"}, {u"Pri242"},
    {u"Pri251"}, {u"Pri252"}, {u"Pri31"}, {u"Pri321"}, {u"Pri322"}, {u"Pri331"}, {u"Pri332"}, {u"Pri341"},
    {u"Pri342"}, {u"Pri351"}, {u"Pri352"}, {u"Pri41"}, {u"Pri421"}, {u"Pri422"}, {u"Pri431"}, {u"Pri432"},
    {u"Pri441"}, {u"Pri442"}, {u"Pri451"}, {u"Pri452"}, {u"CunPas_1"}, {u"NParcode_1"}, {u"No_Unit_2"},
    {u"CunPas_2"}, {u"NParcode_2"}, {u"No_Unit_3"}, {u"CunPas_3"}, {u"NParcode_3"}, {u"No_Unit_4"},
    {u"CunPas_4"}, {u"NParcode_4"}, {u"No_Factory"}, {u"No_StocCat"}, {u"N1_stoccat"}, {u"NSreal"}, {u"info1"},
    {u"info2"}, {u"info3"}, {u"info4"}, {u"info5"}, {u"info6"}, {u"info7"},
};

constexpr ColumnEntry store_tab[] = {
    {u"No_branch_1"}, {u"No_User"},
};

constexpr ColumnEntry tran_tab[] = {
    {u"No_User"},
};

constexpr ColumnEntry unit_tab[] = {
    {u"CunPas"}, {u"No_User"},
};

constexpr ColumnEntry users_tab[] = {
    {u"No_User"}, {u"no_sit"}, {u"Sit1"},
};

// kin_sto (server revision 010218 on) is copied ahead of the other columns; the copy order is observable
// when a later column fails, so it is kept.
constexpr ColumnEntry user_tab[] = {
    {u"kin_sto", u"010218"},
    {u"Sit1"}, {u"Sit2"}, {u"kinLog"}, {u"kinOve"}, {u"kinweb"}, {u"kin2"}, {u"kin5"}, {u"webkey"}, {u"weblas"},
    {u"lasthour"}, {u"C8"}, {u"T2"}, {u"C9"}, {u"D2"}, {u"T5"}, {u"C10"}, {u"C11"}, {u"T7"}, {u"SO1"}, {u"SO2"},
    {u"SO3"}, {u"T3"}, {u"T4"}, {u"T6"}, {u"T9"}, {u"T10"}, {u"T11"}, {u"T12"}, {u"T13"}, {u"T14"}, {u"NoTax"},
    {u"kinFin1"}, {u"kinFin2"}, {u"SO4"}, {u"SO5"}, {u"SO6"}, {u"SO7"}, {u"SO8"}, {u"SO9"}, {u"SO10"}, {u"C81"},
    {u"C82"}, {u"C83"}, {u"T8"}, {u"No_salar_acc"}, {u"No_commi_acc"}, {u"No_1_acc"}, {u"No_2_acc"},
    {u"No_3_acc"}, {u"No_4_acc"}, {u"No_5_acc"}, {u"No_6_acc"}, {u"Off_Work"}, {u"file_name"}, {u"Fld_Picture"},
    {u"No_Cash_acc"}, {u"No_visa_acc"}, {u"No_netwo_acc"}, {u"Time_Out"}, {u"Last_Try"}, {u"Pas"}, {u"NoUser"},
    {u"N_Pas"}, {u"N_Log"}, {u"TexRs"}, {u"TexSal"}, {u"No_findev"}, {u"No_Store"}, {u"No_Sheft"},
    {u"No_Secti"}, {u"No_Jops"}, {u"No_branch_1"}, {u"TimCuo1"}, {u"TimCuo2"}, {u"TimCuo3"}, {u"TimCuo4"},
    {u"Date_Work"}, {u"Date_Work2"},
};

constexpr ColumnEntry usesho_tab[] = {
    {u"N_Form"}, {u"N_Kin"}, {u"N_ord"}, {u"N_User"},
};

// Rows with empty spans are kept so that every synchronised table but Aweb_tab has a row to find.
constexpr TableColumns kRows[] = {
    {u"accbud_tab", accbud_tab},
    {u"account_tab", account_tab},
    {u"accreg_tab", accreg_tab},
    {u"assign_tab", assign_tab},
    {u"docum_tab", docum_tab},
    {u"kindoc_tab", {}},
    {u"kinregr_tab", kinregr_tab},
    {u"kinreg_tab", {}},
    {u"bank_tab", {}},
    {u"branch_tab", branch_tab},
    {u"city_tab", city_tab},
    {u"color_tab", {}},
    {u"custody_tab", custody_tab},
    {u"cust1_tab", {}},
    {u"cust2_tab", {}},
    {u"educ_tab", {}},
    {u"equa_tab", equa_tab},
    {u"factory_tab", {}},
    {u"findev_tab", findev_tab},
    {u"gzakin_tab", gzakin_tab},
    {u"gzam_tab", gzam_tab},
    {u"inbill_tab", inbill_tab},
    {u"inco_tab", {}},
    {u"invoice_tab", invoice_tab},
    {u"jops_tab", {}},
    {u"kincust_tab", kincust_tab},
    {u"livi_tab", {}},
    {u"modlt_tab", modlt_tab},
    {u"modlx_tab", modlx_tab},
    {u"modl_tab", modl_tab},
    {u"mreport_tab", mreport_tab},
    {u"nati_tab", {}},
    {u"picstream_tab", picstream_tab},
    {u"proj_tab", proj_tab},
    {u"rowacc_tab", rowacc_tab},
    {u"rowbud_tab", rowbud_tab},
    {u"branchsyn_tab", branchsyn_tab},
    {u"sendev_tab", sendev_tab},
    {u"notic_tab", notic_tab},
    {u"advan_tab", advan_tab},
    {u"rowshef_tab", rowshef_tab},
    {u"rowvoi_tab", rowvoi_tab},
    {u"rst_tab", rst_tab},
    {u"secti_tab", secti_tab},
    {u"serim_tab", serim_tab},
    {u"seri_tab", seri_tab},
    {u"sheftrow_tab", sheftrow_tab},
    {u"sheft_tab", sheft_tab},
    {u"side_tab", side_tab},
    {u"soci_tab", {}},
    {u"sreport_tab", sreport_tab},
    {u"stoccat_tab", stoccat_tab},
    {u"stocgro_tab", stocgro_tab},
    {u"stocinf_tab", stocinf_tab},
    {u"stock_tab", stock_tab},
    {u"store_tab", store_tab},
    {u"tran_tab", tran_tab},
    {u"unit_tab", unit_tab},
    {u"users_tab", users_tab},
    {u"user_tab", user_tab},
    {u"usesho_tab", usesho_tab},
};

static_assert(std::size(kRows) == 61);

} // namespace

const TableColumns* findTableColumns(QStringView table)
{
    // With 61 rows a linear scan is fast enough and needs no index kept in step with the data.
    for (const TableColumns& row : kRows) {
        if (QStringView(row.table) == table)
            return &row;
    }
    return nullptr;
}

std::span<const TableColumns> allTableColumns()
{
    return kRows;
}

} // namespace tarvelo::records
