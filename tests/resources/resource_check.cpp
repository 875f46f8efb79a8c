// Reads the resources back out of the built program and compares them with what the program
// relies on: both dialog templates property by property and control by control, the icon group,
// the About picture, the manifest, and that nothing else is there. Runs under Wine in the
// Windows build; prints one line per failed check and exits non-zero when any failed.
//
// Usage: resource_check <path of vivad-updater.exe>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "res/resource_ids.h"

namespace {

constexpr WORD LANGUAGE_EN_US = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

int checks = 0;
int failures = 0;

void Check(bool ok, const std::wstring& what) {
    ++checks;
    if (!ok) {
        ++failures;
        std::wprintf(L"FAIL: %ls\n", what.c_str());
    }
}

std::wstring Hex(DWORD value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(value));
    return text;
}

template <typename T>
void CheckEqual(const T& actual, const T& expected, const std::wstring& what) {
    Check(actual == expected, what);
}

void CheckEqual(DWORD actual, DWORD expected, const std::wstring& what) {
    Check(actual == expected, what + L": " + Hex(actual) + L", expected " + Hex(expected));
}

// --- Reading a resource's bytes safely: a short or malformed resource fails the check and never
// reads past its end. ----------------------------------------------------------------------------

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
    bool ok = true;

    bool Has(std::size_t count) {
        if (!ok || size - position < count || position > size) {
            ok = false;
        }
        return ok;
    }
    template <typename T>
    T Read() {
        T value{};
        if (Has(sizeof(T))) {
            std::memcpy(&value, data + position, sizeof(T));
            position += sizeof(T);
        }
        return value;
    }
    void AlignToDword() { position = (position + 3) & ~std::size_t{3}; }
    std::wstring ReadString() {
        std::wstring text;
        for (;;) {
            const wchar_t unit = Read<wchar_t>();
            if (!ok || unit == 0) {
                return text;
            }
            text += unit;
        }
    }
};

// A dialog template field that is either absent, a number or a string.
struct NameOrOrdinal {
    enum class Kind { None, Ordinal, Text } kind = Kind::None;
    WORD ordinal = 0;
    std::wstring text;
    bool operator==(const NameOrOrdinal&) const = default;
};

NameOrOrdinal None() {
    return {};
}
NameOrOrdinal Ordinal(WORD value) {
    return {NameOrOrdinal::Kind::Ordinal, value, {}};
}
NameOrOrdinal Text(std::wstring_view text) {
    return {NameOrOrdinal::Kind::Text, 0, std::wstring(text)};
}

std::wstring Describe(const NameOrOrdinal& value) {
    switch (value.kind) {
        case NameOrOrdinal::Kind::None:
            return L"(none)";
        case NameOrOrdinal::Kind::Ordinal:
            return L"#" + std::to_wstring(value.ordinal);
        case NameOrOrdinal::Kind::Text:
            break;
    }
    std::wstring quoted = L"\"";
    for (wchar_t c : value.text) {
        quoted += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    }
    return quoted + L"\"";
}

NameOrOrdinal ReadNameOrOrdinal(Reader& reader) {
    const WORD first = reader.Read<WORD>();
    if (first == 0x0000) {
        return None();
    }
    if (first == 0xFFFF) {
        return Ordinal(reader.Read<WORD>());
    }
    std::wstring text(1, static_cast<wchar_t>(first));
    text += reader.ReadString();
    return Text(text);
}

// --- The templates as the program needs them. --------------------------------------------------

constexpr WORD BUTTON_CLASS = 0x0080;
constexpr WORD STATIC_CLASS = 0x0082;
constexpr WORD LISTBOX_CLASS = 0x0083;
constexpr DWORD UNUSED_ID = 0xFFFFFFFF;  // -1 as the template stores it
constexpr DWORD CHILD = WS_CHILD | WS_VISIBLE;

struct Control {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    WORD extraBytes = 0;
};

struct Dialog {
    WORD version = 0;
    WORD signature = 0;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::wstring caption;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring typeface;
    std::vector<Control> controls;
};

Control Expect(DWORD id, WORD windowClass, NameOrOrdinal title, short x, short y, short cx,
               short cy, DWORD style) {
    Control control;
    control.id = id;
    control.windowClass = Ordinal(windowClass);
    control.title = std::move(title);
    control.x = x;
    control.y = y;
    control.cx = cx;
    control.cy = cy;
    control.style = CHILD | style;
    return control;
}

constexpr wchar_t INSTRUCTIONS[] =
    L"Firmware Update Instructions\n"
    L"1. Connect USB Power Delivery Tester. \n"
    L"2. Click \"PROGRAM\" button. \n"
    L"3. Wait for \"Programming Complete\" message\n"
    L"4. Check that the latest firmware version was loaded.";

Dialog ExpectedDialog(DWORD style, DWORD exStyle, NameOrOrdinal windowClass,
                      std::wstring_view caption, short cx, short cy) {
    Dialog dialog;
    dialog.version = 1;
    dialog.signature = 0xFFFF;
    dialog.style = style;
    dialog.exStyle = exStyle;
    dialog.cx = cx;
    dialog.cy = cy;
    dialog.windowClass = std::move(windowClass);
    dialog.caption = caption;
    dialog.pointSize = 8;
    dialog.weight = FW_NORMAL;
    dialog.charset = DEFAULT_CHARSET;
    dialog.typeface = L"MS Shell Dlg";
    return dialog;
}

Dialog ExpectedMainDialog() {
    Dialog dialog =
        ExpectedDialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                           DS_FIXEDSYS | DS_NOIDLEMSG | DS_CENTER,
                       WS_EX_TOPMOST | WS_EX_CONTROLPARENT | WS_EX_STATICEDGE,
                       Text(L"USB3_DEZIZARA"), L"USB Power Delivery Firmware Updater", 228, 161);
    dialog.controls = {
        Expect(IDC_ABOUT, BUTTON_CLASS, Text(L"About"), 112, 140, 50, 14,
               BS_DEFPUSHBUTTON | WS_TABSTOP),
        Expect(IDC_EXIT, BUTTON_CLASS, Text(L"Exit"), 171, 140, 50, 14, BS_PUSHBUTTON | WS_TABSTOP),
        Expect(IDC_PROGRAM, BUTTON_CLASS, Text(L"PROGRAM"), 171, 14, 50, 14,
               BS_PUSHBUTTON | WS_TABSTOP),
        Expect(IDC_STATUS_LIST, LISTBOX_CLASS, None(), 7, 15, 142, 40,
               LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP),
        Expect(UNUSED_ID, BUTTON_CLASS, None(), 7, 62, 214, 72, BS_GROUPBOX),
        Expect(UNUSED_ID, STATIC_CLASS, Text(INSTRUCTIONS), 19, 71, 179, 62, SS_LEFT | WS_GROUP),
    };
    return dialog;
}

Dialog ExpectedAboutDialog() {
    Dialog dialog = ExpectedDialog(
        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS, 0, None(),
        L"About", 151, 122);
    constexpr DWORD LINE = SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN | WS_GROUP;
    dialog.controls = {
        Expect(IDOK, BUTTON_CLASS, Text(L"OK"), 51, 97, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP),
        Expect(IDC_ABOUT_BITMAP, STATIC_CLASS, Ordinal(IDB_ABOUT), 7, 7, 137, 34, SS_BITMAP),
        Expect(UNUSED_ID, STATIC_CLASS, Text(L"Version 3.8"), 15, 53, 117, 14, LINE),
        Expect(UNUSED_ID, BUTTON_CLASS, None(), 7, 44, 137, 50, BS_GROUPBOX),
        // The second line's text is the program's own choice; only its presence is checked.
        Expect(UNUSED_ID, STATIC_CLASS, None(), 15, 74, 117, 14, LINE),
    };
    return dialog;
}

bool ParseDialog(const std::uint8_t* data, std::size_t size, Dialog& dialog) {
    Reader reader{data, size};
    dialog.version = reader.Read<WORD>();
    dialog.signature = reader.Read<WORD>();
    dialog.helpId = reader.Read<DWORD>();
    dialog.exStyle = reader.Read<DWORD>();
    dialog.style = reader.Read<DWORD>();
    const WORD count = reader.Read<WORD>();
    dialog.x = reader.Read<short>();
    dialog.y = reader.Read<short>();
    dialog.cx = reader.Read<short>();
    dialog.cy = reader.Read<short>();
    dialog.menu = ReadNameOrOrdinal(reader);
    dialog.windowClass = ReadNameOrOrdinal(reader);
    dialog.caption = reader.ReadString();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = reader.Read<WORD>();
        dialog.weight = reader.Read<WORD>();
        dialog.italic = reader.Read<BYTE>();
        dialog.charset = reader.Read<BYTE>();
        dialog.typeface = reader.ReadString();
    }
    for (WORD i = 0; i < count && reader.ok; ++i) {
        reader.AlignToDword();
        Control control;
        control.helpId = reader.Read<DWORD>();
        control.exStyle = reader.Read<DWORD>();
        control.style = reader.Read<DWORD>();
        control.x = reader.Read<short>();
        control.y = reader.Read<short>();
        control.cx = reader.Read<short>();
        control.cy = reader.Read<short>();
        control.id = reader.Read<DWORD>();
        control.windowClass = ReadNameOrOrdinal(reader);
        control.title = ReadNameOrOrdinal(reader);
        control.extraBytes = reader.Read<WORD>();
        if (reader.Has(control.extraBytes)) {
            reader.position += control.extraBytes;
        }
        dialog.controls.push_back(control);
    }
    return reader.ok;
}

// --- Finding resources in the program's one language. -------------------------------------------

struct Resource {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

Resource Find(HMODULE module, LPCWSTR type, LPCWSTR name) {
    const HRSRC found = FindResourceExW(module, type, name, LANGUAGE_EN_US);
    if (found == nullptr) {
        return {};
    }
    const HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(LockResource(loaded)), SizeofResource(module, found)};
}

void CheckControl(const std::wstring& where, const Control& actual, const Control& expected) {
    CheckEqual(actual.id, expected.id, where + L" identifier");
    Check(actual.windowClass == expected.windowClass,
          where + L" class " + Describe(actual.windowClass) + L", expected " +
              Describe(expected.windowClass));
    // The About box's second line only needs some text.
    if (expected.title.kind == NameOrOrdinal::Kind::None &&
        expected.windowClass == Ordinal(STATIC_CLASS)) {
        Check(actual.title.kind == NameOrOrdinal::Kind::Text && !actual.title.text.empty(),
              where + L" has a text");
    } else {
        Check(actual.title == expected.title, where + L" text " + Describe(actual.title) +
                                                  L", expected " + Describe(expected.title));
    }
    CheckEqual(actual.style, expected.style, where + L" style");
    CheckEqual(actual.exStyle, expected.exStyle, where + L" extended style");
    CheckEqual(actual.helpId, expected.helpId, where + L" help identifier");
    Check(actual.x == expected.x && actual.y == expected.y && actual.cx == expected.cx &&
              actual.cy == expected.cy,
          where + L" position " + std::to_wstring(actual.x) + L"," + std::to_wstring(actual.y) +
              L" size " + std::to_wstring(actual.cx) + L"x" + std::to_wstring(actual.cy));
    Check(actual.extraBytes == 0, where + L" carries no creation data");
}

void CheckDialog(HMODULE module, const wchar_t* name, const Dialog& expected) {
    const std::wstring where = std::wstring(L"dialog ") + name;
    const Resource resource = Find(module, RT_DIALOG, name);
    Check(resource.data != nullptr, where + L" exists in language 1033");
    if (resource.data == nullptr) {
        return;
    }
    Dialog actual;
    Check(ParseDialog(resource.data, resource.size, actual), where + L" parses completely");
    CheckEqual(actual.version, expected.version, where + L" is an extended template (version)");
    CheckEqual(actual.signature, expected.signature,
               where + L" is an extended template (signature)");
    CheckEqual(actual.style, expected.style, where + L" style");
    CheckEqual(actual.exStyle, expected.exStyle, where + L" extended style");
    CheckEqual(actual.helpId, expected.helpId, where + L" help identifier");
    Check(actual.x == expected.x && actual.y == expected.y && actual.cx == expected.cx &&
              actual.cy == expected.cy,
          where + L" position and size");
    Check(actual.menu == expected.menu, where + L" menu " + Describe(actual.menu));
    Check(actual.windowClass == expected.windowClass,
          where + L" class " + Describe(actual.windowClass));
    Check(actual.caption == expected.caption, where + L" caption \"" + actual.caption + L"\"");
    CheckEqual(actual.pointSize, expected.pointSize, where + L" font size");
    CheckEqual(actual.weight, expected.weight, where + L" font weight");
    CheckEqual(actual.italic, expected.italic, where + L" font not italic");
    CheckEqual(actual.charset, expected.charset, where + L" font character set");
    Check(actual.typeface == expected.typeface, where + L" typeface \"" + actual.typeface + L"\"");
    Check(actual.controls.size() == expected.controls.size(),
          where + L" has " + std::to_wstring(expected.controls.size()) + L" controls, found " +
              std::to_wstring(actual.controls.size()));
    for (std::size_t i = 0; i < actual.controls.size() && i < expected.controls.size(); ++i) {
        CheckControl(where + L" control " + std::to_wstring(i), actual.controls[i],
                     expected.controls[i]);
    }
}

// --- Icon group, picture and manifest.
// ------------------------------------------------------------

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colourCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

void CheckIconGroup(HMODULE module) {
    const Resource group = Find(module, RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP));
    Check(group.data != nullptr, L"icon group IDI_APP exists in language 1033");
    if (group.data == nullptr) {
        return;
    }
    Reader reader{group.data, group.size};
    const WORD reserved = reader.Read<WORD>();
    const WORD type = reader.Read<WORD>();
    const WORD count = reader.Read<WORD>();
    Check(reader.ok && reserved == 0 && type == 1, L"icon group header");
    const int sizes[] = {256, 128, 64, 48, 32, 24, 16};
    Check(count == std::size(sizes), L"icon group has 7 images, found " + std::to_wstring(count));
    for (WORD i = 0; i < count && i < std::size(sizes); ++i) {
        const auto entry = reader.Read<GroupIconEntry>();
        if (!reader.ok) {
            Check(false, L"icon group entries complete");
            return;
        }
        const int size = sizes[i];
        const std::wstring where = L"icon image " + std::to_wstring(size) + L" px";
        const int width = entry.width == 0 ? 256 : entry.width;
        const int height = entry.height == 0 ? 256 : entry.height;
        Check(width == size && height == size,
              where + L" listed as " + std::to_wstring(width) + L"x" + std::to_wstring(height));
        CheckEqual(entry.bitCount, WORD{32}, where + L" listed with 32 bits per pixel");
        const Resource image = Find(module, RT_ICON, MAKEINTRESOURCEW(entry.id));
        Check(image.data != nullptr, where + L" exists in language 1033");
        if (image.data == nullptr) {
            continue;
        }
        CheckEqual(image.size, static_cast<std::size_t>(entry.bytes), where + L" length");
        const bool png = image.size >= 8 && std::memcmp(image.data, "\x89PNG", 4) == 0;
        Check(!png, where + L" is a bitmap, not PNG");
        BITMAPINFOHEADER header{};
        if (image.size < sizeof(header)) {
            Check(false, where + L" holds a bitmap header");
            continue;
        }
        std::memcpy(&header, image.data, sizeof(header));
        CheckEqual(header.biSize, DWORD{sizeof(header)}, where + L" header size");
        Check(header.biWidth == size && header.biHeight == 2 * size,
              where + L" bitmap dimensions (height counts the mask)");
        CheckEqual(header.biBitCount, WORD{32}, where + L" bits per pixel");
        CheckEqual(header.biCompression, DWORD{BI_RGB}, where + L" uncompressed");
        const std::size_t expectedBytes = sizeof(header) + std::size_t(size) * size * 4 +
                                          std::size_t((size + 31) / 32 * 4) * size;
        Check(image.size >= expectedBytes, where + L" holds its pixels and mask");
    }
}

void CheckAboutBitmap(HMODULE module) {
    const Resource bitmap = Find(module, RT_BITMAP, MAKEINTRESOURCEW(IDB_ABOUT));
    Check(bitmap.data != nullptr, L"bitmap IDB_ABOUT exists in language 1033");
    if (bitmap.data == nullptr || bitmap.size < sizeof(BITMAPINFOHEADER)) {
        Check(false, L"bitmap IDB_ABOUT holds a header");
        return;
    }
    BITMAPINFOHEADER header{};
    std::memcpy(&header, bitmap.data, sizeof(header));
    CheckEqual(header.biSize, DWORD{sizeof(header)}, L"bitmap header size");
    CheckEqual(header.biWidth, LONG{200}, L"bitmap width");
    CheckEqual(header.biHeight, LONG{56}, L"bitmap height");
    CheckEqual(header.biBitCount, WORD{24}, L"bitmap bits per pixel");
    CheckEqual(header.biCompression, DWORD{BI_RGB}, L"bitmap uncompressed");
    Check(bitmap.size >= sizeof(header) + 600u * 56u, L"bitmap holds all its pixels");
}

// Element names in document order, without namespaces' attributes or closing tags.
std::vector<std::string> ElementNames(const std::string& xml) {
    std::vector<std::string> names;
    for (std::size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
        const char next = at + 1 < xml.size() ? xml[at + 1] : '\0';
        if (next == '/' || next == '?' || next == '!') {
            continue;
        }
        const std::size_t end = xml.find_first_of(" \t\r\n/>", at + 1);
        names.push_back(xml.substr(at + 1, end == std::string::npos ? end : end - at - 1));
    }
    return names;
}

void CheckManifest(HMODULE module) {
    const Resource manifest = Find(module, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    Check(manifest.data != nullptr, L"manifest (type 24, id 1) exists in language 1033");
    if (manifest.data == nullptr) {
        return;
    }
    const std::string xml(reinterpret_cast<const char*>(manifest.data), manifest.size);
    const std::set<std::string> allowed = {"assembly", "trustInfo", "security",
                                           "requestedPrivileges", "requestedExecutionLevel"};
    const std::vector<std::string> names = ElementNames(xml);
    for (const std::string& name : names) {
        Check(allowed.count(name) == 1, L"manifest element <" +
                                            std::wstring(name.begin(), name.end()) +
                                            L"> is part of the trust information");
    }
    Check(std::set<std::string>(names.begin(), names.end()) == allowed,
          L"manifest has the full trust information block");
    const std::size_t level = xml.find("<requestedExecutionLevel");
    const std::size_t levelEnd = xml.find('>', level);
    const std::string element =
        level == std::string::npos ? std::string() : xml.substr(level, levelEnd - level);
    Check(element.find("level=\"asInvoker\"") != std::string::npos,
          L"manifest asks for level asInvoker");
    Check(element.find("uiAccess=\"false\"") != std::string::npos,
          L"manifest asks for uiAccess false");
    Check(xml.find("Common-Controls") == std::string::npos,
          L"manifest names no common-controls assembly");
}

// --- Nothing beyond the program's own resources, all in one language. --------------------------

std::wstring NameText(LPCWSTR name) {
    return IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name))
                                : std::wstring(name);
}

struct Inventory {
    std::set<std::wstring> types;
    std::set<std::wstring> dialogs;
    std::set<std::wstring> manifests;
    std::vector<std::wstring> otherLanguages;
};

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
    auto& inventory = *reinterpret_cast<Inventory*>(param);
    if (language != LANGUAGE_EN_US) {
        inventory.otherLanguages.push_back(NameText(type) + L"/" + NameText(name) + L" in " +
                                           std::to_wstring(language));
    }
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    auto& inventory = *reinterpret_cast<Inventory*>(param);
    if (type == RT_DIALOG) {
        inventory.dialogs.insert(NameText(name));
    }
    if (type == MAKEINTRESOURCEW(24)) {
        inventory.manifests.insert(NameText(name));
    }
    EnumResourceLanguagesW(module, type, name, OnLanguage, param);
    return TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR param) {
    auto& inventory = *reinterpret_cast<Inventory*>(param);
    inventory.types.insert(NameText(type));
    EnumResourceNamesW(module, type, OnName, param);
    return TRUE;
}

void CheckInventory(HMODULE module) {
    Inventory inventory;
    EnumResourceTypesW(module, OnType, reinterpret_cast<LONG_PTR>(&inventory));
    const struct {
        LPCWSTR type;
        const wchar_t* name;
    } absent[] = {{RT_MENU, L"menu"},
                  {RT_ACCELERATOR, L"accelerator table"},
                  {RT_STRING, L"string table"},
                  {RT_VERSION, L"version resource"}};
    for (const auto& kind : absent) {
        Check(inventory.types.count(NameText(kind.type)) == 0,
              std::wstring(L"no ") + kind.name + L" in the program");
    }
    const std::set<std::wstring> expectedTypes = {NameText(RT_BITMAP), NameText(RT_ICON),
                                                  NameText(RT_DIALOG), NameText(RT_GROUP_ICON),
                                                  NameText(MAKEINTRESOURCEW(24))};
    std::wstring found;
    for (const std::wstring& type : inventory.types) {
        found += type + L" ";
    }
    Check(inventory.types == expectedTypes,
          L"resource types are exactly icon, group icon, bitmap, dialog, manifest; found " + found);
    Check(inventory.dialogs == std::set<std::wstring>{L"USB3_DEZIZARA", L"ABOUTBOX"},
          L"the two dialog templates and no others");
    Check(inventory.manifests == std::set<std::wstring>{L"#1"}, L"one manifest, number 1");
    for (const std::wstring& other : inventory.otherLanguages) {
        Check(false, L"resource " + other + L" is not in language 1033");
    }
}

// A Linux path as Wine's drive Z: sees it; a Windows path as it is.
std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') {
        for (wchar_t& c : path) {
            c = c == L'/' ? L'\\' : c;
        }
        path = L"Z:" + path;
    }
    return path;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: resource_check <path of vivad-updater.exe>\n");
        return 2;
    }
    const std::wstring path = WindowsPath(argv[1]);
    const HMODULE module = LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        std::fwprintf(stderr, L"cannot load %ls (error %lu)\n", path.c_str(),
                      static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    CheckDialog(module, L"USB3_DEZIZARA", ExpectedMainDialog());
    CheckDialog(module, L"ABOUTBOX", ExpectedAboutDialog());
    CheckIconGroup(module);
    CheckAboutBitmap(module);
    CheckManifest(module);
    CheckInventory(module);
    FreeLibrary(module);
    std::wprintf(L"%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
