#include "Resources.h"

namespace velora {

namespace {

constexpr std::uint32_t PushStyle = StyleVisible | StyleTabStop;

const DialogItem MainDialogItems[] = {
    {IDC_OPEN, DialogItemClass::PushButton, "열  기", QRect(422, 101, 50, 14), PushStyle,
     ButtonStylePush, 0},
    {IDC_SAVE, DialogItemClass::PushButton, "저  장", QRect(441, 124, 50, 14), PushStyle,
     ButtonStylePush, 0},
    {IDC_START, DialogItemClass::PushButton, "변환시작", QRect(453, 147, 50, 14), PushStyle,
     ButtonStylePush, 0},
    {IDC_CANCEL_CONVERSION, DialogItemClass::PushButton, "변환취소", QRect(461, 169, 50, 14),
     PushStyle, ButtonStylePush, 0},
    {IDOK, DialogItemClass::PushButton, "종  료", QRect(464, 193, 50, 14),
     PushStyle | StyleDefaultButton, ButtonStyleDefaultPush, 0},
    {IDC_CHECK_1006, DialogItemClass::CheckBox, "", QRect(477, 7, 16, 8), StyleTabStop,
     ButtonStyleAutoCheckBox, 0},
    {IDC_PROGRESS, DialogItemClass::ProgressBar, "", QRect(56, 185, 16, 87),
     StyleVisible | StyleVertical | StyleBorder, 0, 0},
    {IDC_CHECK_1007, DialogItemClass::CheckBox, "", QRect(463, 7, 16, 8), StyleTabStop,
     ButtonStyleAutoCheckBox, 0},
    {IDC_GRAY_CONTRAST, DialogItemClass::CheckBox, "", QRect(454, 262, 16, 8),
     StyleVisible | StyleTabStop, ButtonStyleAutoCheckBox, 0},
    {IDC_REDDISH_FILM, DialogItemClass::CheckBox, "", QRect(469, 283, 8, 8),
     StyleVisible | StyleTabStop, ButtonStyleAutoCheckBox, 0},
    {IDC_BLUEISH_FILM, DialogItemClass::CheckBox, "", QRect(469, 296, 8, 8),
     StyleVisible | StyleTabStop, ButtonStyleAutoCheckBox, 0},
    {IDC_SLIDER_COLOR, DialogItemClass::Static, "", QRect(480, 226, 57, 11),
     StyleVisible | StyleNotify | StyleBitmap, 0, IDB_SLIDER_CHANNEL},
    {IDC_SLIDER_GRAY, DialogItemClass::Static, "", QRect(480, 242, 57, 11),
     StyleVisible | StyleNotify | StyleBitmap, 0, IDB_SLIDER_CHANNEL},
    {IDC_SLIDER_1015, DialogItemClass::Static, "", QRect(419, 319, 57, 11),
     StyleNotify | StyleBitmap, 0, IDB_SLIDER_CHANNEL},
};

const DialogItem AboutDialogItems[] = {
    {IDC_STATIC, DialogItemClass::Static, "", QRect(22, 17, 20, 20), StyleVisible | StyleIcon, 0,
     IDR_MAINFRAME},
    {IDC_STATIC, DialogItemClass::Static, "Velora", QRect(57, 10, 60, 8), StyleVisible, 0, 0},
    {IDC_VERSION, DialogItemClass::Edit, "", QRect(7, 130, 63, 13),
     StyleVisible | StyleTabStop | StyleReadOnly | StyleCentred | StyleBorder, 0, 0},
    {IDOK, DialogItemClass::PushButton, "확    인", QRect(7, 292, 145, 16),
     StyleVisible | StyleTabStop | StyleDefaultButton, ButtonStyleDefaultPush, 0},
};

const DialogTemplate MainDialogLayout = {IDD_MAIN_DIALOG,
                                         "",
                                         567,
                                         368,
                                         "MS Shell Dlg",
                                         9,
                                         false,
                                         MainDialogItems,
                                         sizeof(MainDialogItems) / sizeof(MainDialogItems[0])};

const DialogTemplate AboutDialogLayout = {
    IDD_ABOUTBOX, "Velora 정보",    159,
    315,          "MS Shell Dlg",   9,
    true,         AboutDialogItems, sizeof(AboutDialogItems) / sizeof(AboutDialogItems[0])};

}  // namespace

QString BitmapResourcePath(int id) {
    return QStringLiteral(":/bitmaps/%1.png").arg(id);
}

QString IconResourcePath(int id) {
    return QStringLiteral(":/icons/%1.png").arg(id);
}

QString IconResourcePath(int id, int size) {
    return QStringLiteral(":/icons/%1-%2.png").arg(id).arg(size);
}

QIcon LoadResourceIcon(int id) {
    QIcon icon;
    if (id != IDR_MAINFRAME) {
        return icon;
    }
    icon.addFile(IconResourcePath(id));
    for (int size : IconSizes) {
        icon.addFile(IconResourcePath(id, size), QSize(size, size));
    }
    return icon;
}

QString LoadResourceString(int id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return QString::fromUtf8("Velora 정보(&A)...");
        case IDS_SOCKETS_INIT_FAILED:
            return QString::fromUtf8("Windows 소켓을 초기화하지 못했습니다.");
        default:
            return QString();
    }
}

const DialogItem* DialogTemplate::Find(int itemId) const {
    for (const DialogItem& item : *this) {
        if (item.Id == itemId) {
            return &item;
        }
    }
    return nullptr;
}

const DialogTemplate* FindDialogTemplate(int id) {
    switch (id) {
        case IDD_ABOUTBOX:
            return &AboutDialogLayout;
        case IDD_MAIN_DIALOG:
            return &MainDialogLayout;
        default:
            return nullptr;
    }
}

QRect DialogUnitsToPixels(const QRect& units) {
    return QRect(DialogUnitsToPixels(units.x()), DialogUnitsToPixels(units.y()),
                 DialogUnitsToPixels(units.width()), DialogUnitsToPixels(units.height()));
}

}  // namespace velora
