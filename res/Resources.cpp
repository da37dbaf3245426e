#include "Resources.h"

namespace velora {

namespace {

constexpr std::uint32_t kPushStyle = kVisible | kTabStop;

const DialogItem kMainDialogItems[] = {
    {IDC_OPEN, DialogItemClass::PushButton, "열  기", QRect(422, 101, 50, 14), kPushStyle,
     kButtonStylePush, 0},
    {IDC_SAVE, DialogItemClass::PushButton, "저  장", QRect(441, 124, 50, 14), kPushStyle,
     kButtonStylePush, 0},
    {IDC_START, DialogItemClass::PushButton, "변환시작", QRect(453, 147, 50, 14), kPushStyle,
     kButtonStylePush, 0},
    {IDC_CANCEL_CONVERSION, DialogItemClass::PushButton, "변환취소", QRect(461, 169, 50, 14),
     kPushStyle, kButtonStylePush, 0},
    {IDOK, DialogItemClass::PushButton, "종  료", QRect(464, 193, 50, 14),
     kPushStyle | kDefaultButton, kButtonStyleDefaultPush, 0},
    {IDC_CHECK_1006, DialogItemClass::CheckBox, "", QRect(477, 7, 16, 8), kTabStop,
     kButtonStyleAutoCheckBox, 0},
    {IDC_PROGRESS, DialogItemClass::ProgressBar, "", QRect(56, 185, 16, 87),
     kVisible | kVertical | kBorder, 0, 0},
    {IDC_CHECK_1007, DialogItemClass::CheckBox, "", QRect(463, 7, 16, 8), kTabStop,
     kButtonStyleAutoCheckBox, 0},
    {IDC_GRAY_CONTRAST, DialogItemClass::CheckBox, "", QRect(454, 262, 16, 8), kVisible | kTabStop,
     kButtonStyleAutoCheckBox, 0},
    {IDC_REDDISH_FILM, DialogItemClass::CheckBox, "", QRect(469, 283, 8, 8), kVisible | kTabStop,
     kButtonStyleAutoCheckBox, 0},
    {IDC_BLUEISH_FILM, DialogItemClass::CheckBox, "", QRect(469, 296, 8, 8), kVisible | kTabStop,
     kButtonStyleAutoCheckBox, 0},
    {IDC_SLIDER_COLOR, DialogItemClass::Static, "", QRect(480, 226, 57, 11),
     kVisible | kNotify | kBitmap, 0, IDB_SLIDER_CHANNEL},
    {IDC_SLIDER_GRAY, DialogItemClass::Static, "", QRect(480, 242, 57, 11),
     kVisible | kNotify | kBitmap, 0, IDB_SLIDER_CHANNEL},
    {IDC_SLIDER_1015, DialogItemClass::Static, "", QRect(419, 319, 57, 11), kNotify | kBitmap, 0,
     IDB_SLIDER_CHANNEL},
};

const DialogItem kAboutDialogItems[] = {
    {IDC_STATIC, DialogItemClass::Static, "", QRect(22, 17, 20, 20), kVisible | kIcon, 0,
     IDR_MAINFRAME},
    {IDC_STATIC, DialogItemClass::Static, "Velora", QRect(57, 10, 60, 8), kVisible, 0, 0},
    {IDC_VERSION, DialogItemClass::Edit, "", QRect(7, 130, 63, 13),
     kVisible | kTabStop | kReadOnly | kCentred | kBorder, 0, 0},
    {IDOK, DialogItemClass::PushButton, "확    인", QRect(7, 292, 145, 16),
     kVisible | kTabStop | kDefaultButton, kButtonStyleDefaultPush, 0},
};

const DialogTemplate kMainDialog = {IDD_MAIN_DIALOG,
                                    "",
                                    567,
                                    368,
                                    "MS Shell Dlg",
                                    9,
                                    false,
                                    kMainDialogItems,
                                    sizeof(kMainDialogItems) / sizeof(kMainDialogItems[0])};

const DialogTemplate kAboutDialog = {
    IDD_ABOUTBOX, "Velora 정보",     159,
    315,          "MS Shell Dlg",    9,
    true,         kAboutDialogItems, sizeof(kAboutDialogItems) / sizeof(kAboutDialogItems[0])};

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
    for (int size : kIconSizes) {
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
            return &kAboutDialog;
        case IDD_MAIN_DIALOG:
            return &kMainDialog;
        default:
            return nullptr;
    }
}

QRect DialogUnitsToPixels(const QRect& units) {
    return QRect(DialogUnitsToPixels(units.x()), DialogUnitsToPixels(units.y()),
                 DialogUnitsToPixels(units.width()), DialogUnitsToPixels(units.height()));
}

}  // namespace velora
