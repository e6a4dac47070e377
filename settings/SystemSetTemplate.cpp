// The settings dialog's template as data: its caption and its controls in
// template order. Both views build the dialog from it (the Win32 resource is
// checked against it).
#include "settings/SystemSet.h"

#include "common/Texts.h"

using namespace systemset;

namespace systemset {

std::string caption() {
    // The template's own caption, the same in both languages.
    return pick(TextPair{"设置", "设置"});
}

const std::vector<TemplateItem>& templateItems() {
    using K = ControlKind;
    static const std::vector<TemplateItem> items = {
        {IDC_SERVICE_ADDRESS, K::Edit, "", 76, 9, 171, 14},
        {IDC_PRIMARY_DISPLAY, K::Radio, "主显示器", 13, 94, 62, 10, true},
        {IDC_EXTENDED_DISPLAY, K::Radio, "扩展显示器", 13, 114, 62, 10},
        {IDC_PAGE_MACHINE_STATUS, K::Radio, "机器状态监控", 13, 141, 61, 10, true},
        {IDC_PAGE_KNITTING_RECORD, K::Radio, "实时编织记录", 13, 157, 61, 10},
        {IDC_PAGE_ORDER_PROGRESS, K::Radio, "订单进度监控", 13, 173, 61, 10},
        {IDC_PAGE_WORKSHOP_EFFICIENCY, K::Radio, "车间效率分析", 13, 189, 61, 10},
        {IDC_PAGE_FACTORY_OVERVIEW, K::Radio, "工厂总览", 13, 205, 61, 10},
        {IDC_EXTENDED_LIST, K::ComboBox, "", 76, 113, 171, 88},
        {IDC_AREA_NAMES, K::Edit, "", 76, 138, 171, 14, false, true},
        {IDOK, K::DefaultButton, "保存(&S)", 132, 246, 48, 17},
        {IDCANCEL, K::Button, "取消(&Q)", 194, 246, 50, 17},
        {IDC_PRIMARY_NAME, K::Edit, "", 76, 92, 172, 14},
        {IDC_MACHINE_TYPE, K::ComboBox, "", 76, 29, 171, 71},
        {IDC_ACCOUNT, K::Edit, "", 76, 47, 172, 14},
        {IDC_SITE_ADDRESS, K::Edit, "", 76, 67, 171, 14},
        {IDC_KNITTING_RECORD_PARAMETERS, K::Edit, "", 76, 154, 171, 14, false, true},
        {IDC_ORDER_PROGRESS_PARAMETERS, K::Edit, "", 76, 170, 171, 14, false, true},
        {IDC_WORKSHOP_EFFICIENCY_PARAMETERS, K::Edit, "", 76, 186, 171, 14, false, true},
        {0, K::Label, "服务地址", 13, 12, 60, 8},
        {0, K::Label, "机器类型", 13, 31, 60, 8},
        {0, K::Label, "默认账号", 13, 50, 60, 8},
        {0, K::Label, "站点地址", 13, 69, 60, 8},
        {0, K::Separator, "", 2, 79, 258, 8},
        {0, K::Separator, "", 2, 125, 258, 9},
        {0, K::Separator, "", 2, 216, 258, 8},
        {0, K::Note, "除主显示器外的显示器，请配置为扩展模式。", 15, 230, 167, 16},
    };
    return items;
}

} // namespace systemset
