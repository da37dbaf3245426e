// Program resources by numeric identifier: bitmaps and icons compiled in through the Qt resource
// system, the string table and the two dialog layouts in dialog units.
#pragma once

#include <QIcon>
#include <QRect>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace velora {

// Icon.
constexpr int IDR_MAINFRAME = 128;

// Bitmaps. 131 and 142 are not used by the program and do not exist.
constexpr int IDB_SKIN = 130;         // window skin, 1000 x 800, SkinKeyRgb outside the shape
constexpr int IDB_PUSH_NORMAL = 132;  // push-button faces, 80 x 30
constexpr int IDB_PUSH_MASK = 133;    // all black
constexpr int IDB_PUSH_HOVER = 134;
constexpr int IDB_PUSH_DISABLED = 135;
constexpr int IDB_PUSH_PRESSED = 136;
constexpr int IDB_CHECK_HOVER = 137;    // check-button faces, 20 x 20
constexpr int IDB_CHECK_PRESSED = 138;  // pressed and checked
constexpr int IDB_CHECK_NORMAL = 139;
constexpr int IDB_CHECK_DISABLED = 140;
constexpr int IDB_CHECK_MASK = 141;      // all black
constexpr int IDB_SLIDER_CHANNEL = 143;  // empty track, 100 x 20, key colour only at (0, 0)
constexpr int IDB_SLIDER_ACTIVE = 144;   // filled track, same size and key

// Every bitmap identifier that exists, in ascending order.
constexpr int BitmapIds[] = {
    IDB_SKIN,         IDB_PUSH_NORMAL,    IDB_PUSH_MASK,     IDB_PUSH_HOVER,   IDB_PUSH_DISABLED,
    IDB_PUSH_PRESSED, IDB_CHECK_HOVER,    IDB_CHECK_PRESSED, IDB_CHECK_NORMAL, IDB_CHECK_DISABLED,
    IDB_CHECK_MASK,   IDB_SLIDER_CHANNEL, IDB_SLIDER_ACTIVE};

// Key colour of the skin; the slider tracks take theirs from their pixel (0, 0). Pure magenta
// reads the same as 0xRRGGBB and as a COLORREF (0x00BBGGRR). As the region's tolerance too it
// widens no component, so exactly this colour is cut away.
constexpr std::uint32_t SkinKeyRgb = 0xFF00FF;

// Strings.
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDS_SOCKETS_INIT_FAILED = 103;

// Dialog templates.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_MAIN_DIALOG = 102;

// Controls of template 102.
constexpr int IDOK = 1;  // Exit ("종  료"); also the About box's OK button
constexpr int IDC_CANCEL_CONVERSION = 1000;
constexpr int IDC_PROGRESS = 1001;
constexpr int IDC_OPEN = 1002;
constexpr int IDC_SAVE = 1003;
constexpr int IDC_START = 1004;
constexpr int IDC_CHECK_1006 = 1006;  // hidden, never read
constexpr int IDC_CHECK_1007 = 1007;  // hidden, never read
constexpr int IDC_GRAY_CONTRAST = 1008;
constexpr int IDC_REDDISH_FILM = 1009;
constexpr int IDC_BLUEISH_FILM = 1010;
constexpr int IDC_SLIDER_COLOR = 1013;
constexpr int IDC_SLIDER_GRAY = 1014;
constexpr int IDC_SLIDER_1015 = 1015;  // hidden, never read
// Controls of template 100.
constexpr int IDC_VERSION = 1009;  // read-only edit receiving the version text
constexpr int IDC_STATIC = -1;     // icon and text statics that nobody addresses

// Resource paths inside the program: ":/bitmaps/<id>.png" and ":/icons/<id>.png" (256 x 256),
// with hand-sized small versions at ":/icons/<id>-<size>.png" for the sizes in IconSizes.
QString BitmapResourcePath(int id);
QString IconResourcePath(int id);
QString IconResourcePath(int id, int size);
constexpr int IconSizes[] = {16, 32, 48};
// The icon with all its sizes, ready for setWindowIcon; a null icon for an unknown id.
QIcon LoadResourceIcon(int id);

// Text of string `id` (UTF-8 source), or an empty string when there is no such string.
QString LoadResourceString(int id);

enum class DialogItemClass { PushButton, CheckBox, ProgressBar, Static, Edit };

// Style bits of a dialog item.
enum DialogItemStyle : std::uint32_t {
    StyleVisible = 1u << 0,
    StyleTabStop = 1u << 1,
    StyleDefaultButton = 1u << 2,
    StyleVertical = 1u << 3,  // progress bar
    StyleBorder = 1u << 4,
    StyleNotify = 1u << 5,    // static receiving mouse input
    StyleReadOnly = 1u << 6,  // edit
    StyleCentred = 1u << 7,   // edit text alignment
    StyleIcon = 1u << 8,      // static showing an icon (BitmapId names it)
    StyleBitmap = 1u << 9,    // static showing a bitmap (BitmapId names it)
};

// Low byte of a button's window style: what kind of button the template asks for.
constexpr std::uint8_t ButtonStylePush = 0;
constexpr std::uint8_t ButtonStyleDefaultPush = 1;
constexpr std::uint8_t ButtonStyleAutoCheckBox = 3;
constexpr std::uint8_t ButtonStyleAutoRadio = 9;

struct DialogItem {
    int Id;
    DialogItemClass Class;
    const char* Caption;       // UTF-8, empty for none
    QRect Units;               // left, top, width, height in dialog units
    std::uint32_t Style;       // DialogItemStyle bits
    std::uint8_t ButtonStyle;  // ButtonStyle... for buttons, 0 otherwise
    int BitmapId;              // icon or bitmap of a static, 0 for none
};

struct DialogTemplate {
    int Id;
    const char* Caption;  // UTF-8, empty for none
    int WidthUnits;
    int HeightUnits;
    const char* FontName;
    int FontPoints;
    bool HasCaptionBar;  // false: pop-up without caption or border
    const DialogItem* Items;
    std::size_t ItemCount;

    const DialogItem* begin() const { return Items; }
    const DialogItem* end() const { return Items + ItemCount; }
    // The item with this id, or nullptr.
    const DialogItem* Find(int itemId) const;
};

// Template 100 (About) or 102 (main window); nullptr for any other id.
const DialogTemplate* FindDialogTemplate(int id);

// The layout is drawn for 1.75 pixels per dialog unit in both directions; each of left, top,
// width and height is scaled on its own with the fraction dropped.
constexpr int PixelsPerFourUnits = 7;
constexpr int DialogUnitsToPixels(int units) {
    return units * PixelsPerFourUnits / 4;
}
QRect DialogUnitsToPixels(const QRect& units);

}  // namespace velora
