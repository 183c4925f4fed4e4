#include "ui/skin.h"

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/dcscreen.h>
#include <wx/filename.h>
#include <wx/font.h>
#include <wx/imagpng.h>
#include <wx/mstream.h>
#include <wx/utils.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "system/folders.h"
#include "system/path.h"
#include "system/text_encoding.h"
#include "ui/resources.h"

namespace veldmoor {

double DisplayScale() {
    const wxScreenDC screen;
    const wxSize ppi = screen.GetPPI();
    return ppi.y > 0 ? ppi.y / 96.0 : 1.0;
}

int SkinUnits::X(double units) const {
    return static_cast<int>(std::lround(units * 1.5 * scale));
}

int SkinUnits::Y(double units) const {
    return static_cast<int>(std::lround(units * 1.625 * scale));
}

int SkinUnits::Pixels(double pixels) const {
    return static_cast<int>(std::lround(pixels * scale));
}

namespace {

wxImage DecodePng(int id, int set) {
    const std::span<const std::byte> bytes = PngResource(id, set);
    if (bytes.empty())
        return {};
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
        wxImage::AddHandler(new wxPNGHandler);
    wxMemoryInputStream stream(bytes.data(), bytes.size());
    wxImage decoded;
    if (!decoded.LoadFile(stream, wxBITMAP_TYPE_PNG))
        return {};
    if (!decoded.HasAlpha())
        decoded.InitAlpha();
    return decoded;
}

}  // namespace

wxBitmapBundle PngBundle(int id) {
    wxVector<wxBitmap> sets;
    for (const int set : {1, 2}) {
        const wxImage image = DecodePng(id, set);
        if (image.IsOk())
            sets.push_back(wxBitmap(image));
    }
    return wxBitmapBundle::FromBitmaps(sets);
}

wxBitmap LoadPngBitmap(int id, const wxSize& logicalSize) {
    const wxBitmapBundle bundle = PngBundle(id);
    if (!bundle.IsOk())
        return {};
    const double display = DisplayScale();
    const wxSize device(std::max(1, static_cast<int>(std::lround(logicalSize.x * display))),
                        std::max(1, static_cast<int>(std::lround(logicalSize.y * display))));
    const wxSize design = bundle.GetDefaultSize();
    const double wanted = design.x > 0 ? static_cast<double>(device.x) / design.x : display;
    wxImage image = bundle.GetBitmap(bundle.GetPreferredBitmapSizeAtScale(wanted)).ConvertToImage();
    if (!image.HasAlpha())
        image.InitAlpha();
    // The bundle's own rescaling is a fast one; pictures with shapes want the smooth one.
    if (image.GetSize() != device)
        image.Rescale(device.x, device.y, wxIMAGE_QUALITY_HIGH);
    wxBitmap bitmap(image);
    bitmap.SetScaleFactor(display);
    return bitmap;
}

void LoadPngResource(int id, wxImage& target, std::optional<wxSize> size) {
    target = wxImage();
    wxImage decoded = DecodePng(id, 1);
    if (!decoded.IsOk())
        return;
    const SkinUnits units;
    wxSize wanted =
        size.value_or(wxSize(units.Pixels(decoded.GetWidth()), units.Pixels(decoded.GetHeight())));
    wanted.IncTo(wxSize(1, 1));
    if (wanted != decoded.GetSize())
        decoded.Rescale(wanted.x, wanted.y, wxIMAGE_QUALITY_HIGH);
    target = decoded;
}

wxRegion RegionFromAlpha(const wxSize& windowSize, const wxImage& image) {
    wxRegion region(0, 0, windowSize.x, windowSize.y);
    if (!image.IsOk() || !image.HasAlpha())
        return region;
    const int width = std::min(image.GetWidth(), windowSize.x);
    const int height = std::min(image.GetHeight(), windowSize.y);
    // Removes each row's runs of transparent pixels at once; the same set of pixels as
    // removing them one by one.
    for (int y = 0; y < height; ++y) {
        int x = 0;
        while (x < width) {
            if (image.GetAlpha(x, y) != 0) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && image.GetAlpha(x, y) == 0)
                ++x;
            region.Subtract(wxRect(start, y, x - start, 1));
        }
    }
    return region;
}

bool IsTransparentAt(const wxImage& image, const wxPoint& point) {
    if (!image.IsOk() || point.x < 0 || point.y < 0 || point.x >= image.GetWidth() ||
        point.y >= image.GetHeight())
        return true;
    return image.HasAlpha() && image.GetAlpha(point.x, point.y) == 0;
}

namespace {

// wx registers private fonts from files, so each embedded font is written once into a folder
// of the user's temporary directory.
std::string WriteFontFile(int id) {
    const std::span<const std::byte> bytes = FontResource(id);
    if (bytes.empty())
        return {};
    const std::string folder = UserTemporaryFolder("veldmoor-fonts");
    wxFileName::Mkdir(wxString::FromUTF8(folder), 0700, wxPATH_MKDIR_FULL);
    const std::string path =
        AppendPathComponent(folder, std::to_string(id) + FontResourceExtension(id));
    std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return out ? path : std::string();
}

}  // namespace

void RegisterEmbeddedFonts() {
    // The written files must outlive every use of the fonts; when one vanished (a temporary
    // folder cleaned), it is written and registered again.
    static std::string registered[2];
    const int ids[2] = {186, 185};
    for (int i = 0; i < 2; ++i) {
        std::error_code error;
        if (!registered[i].empty() && std::filesystem::exists(PathFromUtf8(registered[i]), error))
            continue;
        registered[i] = WriteFontFile(ids[i]);
        if (!registered[i].empty())
            wxFont::AddPrivateFont(wxString::FromUTF8(registered[i]));
    }
}

wxFont MakeSkinFont(const char* family, int points) {
    return wxFont(wxFontInfo(points).FaceName(family));
}

// ---------------------------------------------------------------- CPictureButton

CPictureButton::CPictureButton(int normalId, int pressedId, int hoverId, int disabledId) {
    LoadPngResource(normalId, normalImage);
    LoadPngResource(pressedId, pressedImage);
    LoadPngResource(hoverId, hoverImage);
    LoadPngResource(disabledId, disabledImage);
    normalBitmap = LoadPngBitmap(normalId, normalImage.GetSize());
    pressedBitmap = LoadPngBitmap(pressedId, pressedImage.GetSize());
    hoverBitmap = LoadPngBitmap(hoverId, hoverImage.GetSize());
    disabledBitmap = LoadPngBitmap(disabledId, disabledImage.GetSize());
}

bool CPictureButton::Create(wxWindow* parent, wxWindowID id, const wxPoint& position,
                            BackgroundPainter* painter) {
    background = painter;
    const wxSize size = pressedImage.IsOk() ? pressedImage.GetSize() : wxSize(16, 16);
    if (!wxControl::Create(parent, id, position, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE))
        return false;
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetMinSize(size);
    Bind(wxEVT_PAINT, &CPictureButton::OnPaint, this);
    Bind(wxEVT_ENTER_WINDOW, &CPictureButton::OnMouseEnter, this);
    Bind(wxEVT_LEAVE_WINDOW, &CPictureButton::OnMouseLeave, this);
    Bind(wxEVT_MOTION, &CPictureButton::OnMouseMove, this);
    Bind(wxEVT_LEFT_DOWN, &CPictureButton::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CPictureButton::OnLeftDown, this);
    Bind(wxEVT_LEFT_UP, &CPictureButton::OnLeftUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CPictureButton::OnCaptureLost, this);
    Bind(wxEVT_KEY_DOWN, &CPictureButton::OnKeyDown, this);
    Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& event) {
        Refresh();
        event.Skip();
    });
    Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
        Refresh();
        event.Skip();
    });
    return true;
}

wxSize CPictureButton::DoGetBestSize() const {
    return pressedImage.IsOk() ? pressedImage.GetSize() : wxSize(16, 16);
}

const wxImage& CPictureButton::CurrentImage() const {
    if (pressed)
        return pressedImage;
    if (hover)
        return hoverImage;
    if (!IsEnabled() && disabledImage.IsOk())
        return disabledImage;
    return normalImage;
}

const wxBitmap& CPictureButton::CurrentBitmap() const {
    if (pressed)
        return pressedBitmap;
    if (hover)
        return hoverBitmap;
    if (!IsEnabled() && disabledBitmap.IsOk())
        return disabledBitmap;
    return normalBitmap;
}

bool CPictureButton::Enable(bool enable) {
    if (!enable) {
        // A disabled window gets no leave notification, so it must not keep looking hovered.
        hover = false;
        pressed = false;
        if (HasCapture())
            ReleaseMouse();
    }
    const bool changed = wxControl::Enable(enable);
    Refresh();
    return changed;
}

void CPictureButton::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    if (background != nullptr)
        background->PaintBackgroundBehind(dc, *this);
    else
        dc.Clear();
    const wxBitmap& picture = CurrentBitmap();
    if (picture.IsOk())
        dc.DrawBitmap(picture, 0, 0, true);
    if (HasFocus()) {
        // The pictures have no focused state of their own: a dotted frame in the skin's light
        // colour shows where Space and Enter go.
        wxPen pen(wxColour(236, 214, 160), 1, wxPENSTYLE_DOT);
        dc.SetPen(pen);
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawRectangle(wxRect(GetClientSize()).Deflate(1));
    }
}

void CPictureButton::OnKeyDown(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
        case WXK_SPACE:
        case WXK_RETURN:
        case WXK_NUMPAD_ENTER:
        case WXK_NUMPAD_SPACE:
            if (IsEnabled())
                Click();
            return;
        default:
            event.Skip();
    }
}

void CPictureButton::Click() {
    wxCommandEvent click(wxEVT_BUTTON, GetId());
    click.SetEventObject(this);
    ProcessWindowEvent(click);
    // A click may have opened a dialog: the pointer left while it was open and this button
    // heard nothing of it. It looks hovered only if the pointer is still on it.
    const wxPoint pointer = ScreenToClient(wxGetMousePosition());
    SetHover(IsEnabled() && GetClientRect().Contains(pointer) &&
             !IsTransparentAt(normalImage, pointer));
}

void CPictureButton::SetHover(bool value) {
    if (hover == value)
        return;
    hover = value;
    Refresh();
}

void CPictureButton::OnMouseEnter(wxMouseEvent& event) {
    SetHover(IsEnabled() && !IsTransparentAt(normalImage, event.GetPosition()));
    event.Skip();
}

void CPictureButton::OnMouseLeave(wxMouseEvent& event) {
    SetHover(false);
    event.Skip();
}

void CPictureButton::OnMouseMove(wxMouseEvent& event) {
    const bool inside = !IsTransparentAt(normalImage, event.GetPosition());
    SetHover(IsEnabled() && inside);
    if (HasCapture()) {
        const bool wasPressed = pressed;
        pressed = inside;
        if (wasPressed != pressed)
            Refresh();
    }
    event.Skip();
}

void CPictureButton::OnLeftDown(wxMouseEvent& event) {
    if (IsTransparentAt(normalImage, event.GetPosition())) {
        // A transparent corner is not part of the button: the click belongs to the window
        // behind, so that dragging the dialog works there too.
        wxMouseEvent forwarded(event);
        forwarded.SetPosition(GetParent()->ScreenToClient(ClientToScreen(event.GetPosition())));
        forwarded.SetEventObject(GetParent());
        forwarded.SetId(GetParent()->GetId());
        GetParent()->GetEventHandler()->ProcessEvent(forwarded);
        return;
    }
    if (!IsEnabled())
        return;
    pressed = true;
    if (!HasCapture())
        CaptureMouse();
    Refresh();
}

void CPictureButton::OnLeftUp(wxMouseEvent& event) {
    const bool wasPressed = pressed;
    pressed = false;
    if (HasCapture())
        ReleaseMouse();
    Refresh();
    if (wasPressed && IsEnabled() && !IsTransparentAt(normalImage, event.GetPosition()))
        Click();
}

void CPictureButton::OnCaptureLost(wxMouseCaptureLostEvent&) {
    pressed = false;
    Refresh();
}

// ---------------------------------------------------------------- CPNGPicture

bool CPNGPicture::Create(wxWindow* parent, wxWindowID id, const wxPoint& position,
                         const wxImage& picture, BackgroundPainter* painter) {
    image = picture;
    if (image.IsOk())
        bitmap = wxBitmap(image);
    background = painter;
    const wxSize size = image.IsOk() ? image.GetSize() : wxSize(1, 1);
    if (!wxControl::Create(parent, id, position, size, wxBORDER_NONE))
        return false;
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetMinSize(size);
    Bind(wxEVT_PAINT, &CPNGPicture::OnPaint, this);
    return true;
}

bool CPNGPicture::Create(wxWindow* parent, wxWindowID id, const wxPoint& position, int pngId,
                         const wxSize& size, BackgroundPainter* painter) {
    wxImage picture;
    LoadPngResource(pngId, picture, size);
    if (!Create(parent, id, position, picture, painter))
        return false;
    bitmap = LoadPngBitmap(pngId, size);
    return true;
}

wxSize CPNGPicture::DoGetBestSize() const {
    return image.IsOk() ? image.GetSize() : wxSize(1, 1);
}

void CPNGPicture::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    if (background != nullptr) {
        background->PaintBackgroundBehind(dc, *this);
    } else {
        dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
        dc.Clear();
    }
    if (bitmap.IsOk())
        dc.DrawBitmap(bitmap, 0, 0, true);
}

// ---------------------------------------------------------------- CSkinProgress

bool CSkinProgress::Create(wxWindow* parent, wxWindowID id, const wxRect& rect, int maximum) {
    if (!wxControl::Create(parent, id, rect.GetPosition(), rect.GetSize(), wxBORDER_NONE))
        return false;
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    range = std::max(1, maximum);
    Bind(wxEVT_PAINT, &CSkinProgress::OnPaint, this);
    return true;
}

void CSkinProgress::SetRange(int maximum) {
    range = std::max(1, maximum);
    value = std::clamp(value, 0, range);
    Refresh();
}

void CSkinProgress::SetValue(int position) {
    position = std::clamp(position, 0, range);
    if (position == value)
        return;
    value = position;
    Refresh();
}

void CSkinProgress::OnPaint(wxPaintEvent&) {
    const wxColour& kTrack = kSkinGround;
    const wxColour& kFrame = kSkinFrame;
    const wxColour& kFillLight = kSkinGold;
    static const wxColour kFillDark(176, 128, 60);
    wxAutoBufferedPaintDC dc(this);
    wxRect all(GetClientSize());
    dc.SetPen(wxPen(kFrame));
    dc.SetBrush(wxBrush(kTrack));
    dc.DrawRectangle(all);
    wxRect filled = all.Deflate(2);
    filled.width = static_cast<int>(static_cast<long long>(filled.width) * value / range);
    if (filled.width > 0)
        dc.GradientFillLinear(filled, kFillLight, kFillDark, wxSOUTH);
}

// ---------------------------------------------------------------- CPictureEdit

bool CPictureEdit::Create(wxWindow* parent, wxWindowID id, const wxRect& rect,
                          const wxColour& backgroundColour, const wxColour& text) {
    if (!wxTextCtrl::Create(
            parent, id, wxString(), rect.GetPosition(), rect.GetSize(),
            wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH2 | wxBORDER_NONE | wxVSCROLL))
        return false;
    SetBackgroundColour(backgroundColour);
    SetForegroundColour(text);
    return true;
}

}  // namespace veldmoor
