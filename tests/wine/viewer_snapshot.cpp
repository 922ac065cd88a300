// Takes a picture of each viewer template from the real window under Wine:
// the DLL is fed a generated multiplex so that the event text, the clock,
// the caption and a circled channel button show what a viewer would see.
// Writes viewer-101.bmp, viewer-102.bmp and viewer-103.bmp (24-bit) into the
// directory given as the first argument, or the program's own; then
// tooltip.bmp: template 101 with Symbols=1 and the programme details'
// tooltip popped up over the event text, the pointer resting on it; then
// captions.bmp: template 102 with the caption view open below it, on the
// full-segment service, fed the first captions of a real caption stream;
// last guide.bmp: the one-segment viewer with its programme guide open
// below it, fed kestrin-gen's "three-services" multiplex.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/gen/guide_scenarios.h"
#include "tools/gen/multiplexer.h"
#include "tools/gen/scenario.h"
#include "tools/streamkit/caption_builder.h"
#include "tools/streamkit/stream_builder.h"
#include "tools/streamkit/test_multiplex.h"
#include "tests/wine/plugin_driver.h"
#include "tools/common/viewer_tooltip.h"
#include "ui/resource.h"

namespace {

// The screen inside `r` (screen coordinates), as it is on the (virtual)
// display: windows on top of each other as the user sees them.
bool WriteBmp(const std::string& path, const RECT& r) {
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files keep it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return false;
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);

    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    bool ok = false;
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             std::fwrite(bits, imageSize, 1, out) == 1;
        std::fclose(out);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

// The window, frame and caption included.
bool WriteBmp(const std::string& path, HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return WriteBmp(path, r);
}

void FeedAll(PluginObject& plugin, const std::vector<uint8_t>& mux) {
    const uint32_t chunk = 188 * 32;
    for (size_t at = 0; at < mux.size(); at += chunk) {
        const uint32_t n = static_cast<uint32_t>(mux.size() - at < chunk ? mux.size() - at : chunk);
        plugin.OnStreamData(mux.data() + at, n);
        PumpMessages();
    }
}

// A viewer in a host window of its own, opened with the settings `ini`,
// told it watches `service` on channel 27 and fed `mux`; `dialog` is NULL
// when no window came.
struct FedViewer {
    HostWindow host;
    FakeHost callbacks;
    PluginObject plugin;
    HWND dialog = nullptr;

    FedViewer(const std::string& ini, int32_t service, const std::vector<uint8_t>& mux) {
        WriteSettingsFile(ini);
        plugin.SetHost(&callbacks, 0x10400);
        plugin.CreatePluginWindow(host.Handle());
        dialog = plugin.Dialog();
        if (dialog == nullptr) return;
        plugin.OnChannelChange(27, service);
        FeedAll(plugin, mux);
    }
};

// Template 101 with the programme details and bracketed symbols; the
// pointer is put on the event text and the tooltip asked to pop up for the
// tool under it. The picture covers the window and the tooltip.
bool ToolTipPicture(const std::string& path) {
    build::MultiplexOptions options;
    options.cycles = 3;
    options.packetsPerCycle = 0;
    options.eventDetails = true;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);
    FedViewer viewer("[POSITION]\r\nLeft=40\r\nTop=40\r\nFont=1\r\n[SERVICE]\r\nCH1=27\r\nCH2=26\r\n"
                     "[DISPLAY]\r\nSymbols=1\r\n",
                     build::kMuxOneSegService, mux);
    HWND dialog = viewer.dialog;
    if (dialog == nullptr) return false;
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    HWND tip = ViewerToolTipWindow(dialog);
    if (tip == nullptr) {
        std::printf("tooltip: the dialog has no tooltip window\n");
        return false;
    }
    RECT text;
    GetWindowRect(GetDlgItem(dialog, 1003), &text);  // IDC_INFO_TEXT
    SetCursorPos(text.left + 40, text.bottom - 8);
    PumpMessages();
    SendMessageA(tip, TTM_POPUP, 0, 0);
    for (int i = 0; i < 10; ++i) {
        PumpMessages();
        Sleep(50);
    }
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RedrawWindow(tip, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
    PumpMessages();
    Sleep(300);
    PumpMessages();
    if (!IsWindowVisible(tip)) {
        std::printf("tooltip: did not pop up\n");
        return false;
    }
    RECT window, tipRect, both;
    GetWindowRect(dialog, &window);
    GetWindowRect(tip, &tipRect);
    UnionRect(&both, &window, &tipRect);
    InflateRect(&both, 4, 4);
    return WriteBmp(path, both);
}

// The stream of kestrin-gen's "three-services" scenario: a terrestrial
// multiplex of three full-segment services and the one-segment service,
// four days of schedule, ten o'clock at night on 8 December 2026.
const int32_t kThreeServicesOneSeg = 0x0588;

std::vector<uint8_t> ThreeServicesStream() {
    std::vector<uint8_t> stream;
    std::vector<std::string> parts;
    gen::Scenario scenario;
    std::string error;
    if (!gen::NamedScenarioParts("three-services", parts) || parts.size() != 1 ||
        !gen::ParseScenario(parts[0], scenario, error)) {
        std::printf("guide: three-services: %s\n", error.c_str());
        return stream;
    }
    gen::GenerateStream(scenario, [&stream](const uint8_t* packet) {
        stream.insert(stream.end(), packet, packet + 188);
        return true;
    });
    return stream;
}

// The viewer on the one-segment service with its programme guide opened
// from the viewer's menu, below it: a column for each service of the
// multiplex, the programme after the one on air selected: guide.bmp. The
// cache file of earlier viewers is removed first, so that only the
// multiplex's services show.
bool GuidePicture(const std::string& path) {
    const std::vector<uint8_t> stream = ThreeServicesStream();
    if (stream.empty()) return false;
    const std::string cache = ProgramDirectory() + "Kestrin.epg";
    DeleteFileA(cache.c_str());
    FedViewer viewer("[POSITION]\r\nLeft=20\r\nTop=20\r\nFont=0\r\n[DISPLAY]\r\nSymbols=1\r\n"
                     "[SERVICE]\r\nCH1=27\r\nCH2=26\r\n[GUIDE]\r\nWidth=760\r\nHeight=640\r\n",
                     kThreeServicesOneSeg, stream);
    HWND dialog = viewer.dialog;
    if (dialog == nullptr) return false;
    // The viewer's menu item 番組表 sends this command.
    SendMessageA(dialog, WM_COMMAND, IDC_GUIDE_OPEN, 0);
    PumpMessages();
    HWND guide = FindGuideWindow(dialog);
    if (guide == nullptr) return false;
    // Home selects a programme on air, the Rights the one-segment service's
    // (the last column), Down the next one, which the viewer can request.
    HWND grid = GetDlgItem(guide, IDC_GUIDE_GRID);
    SetFocus(grid);
    for (WPARAM key : {VK_HOME, VK_RIGHT, VK_RIGHT, VK_RIGHT, VK_DOWN}) {
        SendMessageA(grid, WM_KEYDOWN, key, 0);
        UpdateWindow(grid);
    }
    RECT a, b, both;
    GetWindowRect(dialog, &a);
    SetWindowPos(guide, HWND_TOPMOST, a.left, a.bottom + 4, 0, 0, SWP_NOSIZE);
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SetForegroundWindow(guide);
    SetFocus(grid);
    RedrawWindow(guide, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages();
    Sleep(300);
    PumpMessages();
    GetWindowRect(guide, &b);
    UnionRect(&both, &a, &b);
    InflateRect(&both, 4, 4);
    const bool written = WriteBmp(path, both);
    SendMessageA(guide, WM_COMMAND, IDCANCEL, 0);
    return written;
}

// The first caption PES payloads of the real stream that the picture is
// taken after: its first five captions, the fifth still on screen.
const size_t kPictureCaptionPayloads = 33;

// Template 102 and the caption view below it, after the multiplex and the
// first caption PES of the real stream (the full-segment service's PMT
// names it with component tag 0x30). The picture covers both windows.
bool CaptionPicture(const std::string& path) {
    build::MultiplexOptions options;
    options.cycles = 3;
    options.packetsPerCycle = 0;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);
    // The real stream is a full-segment service's (profile A): the
    // full-segment service of the multiplex, its PMT on 0x0101 now naming
    // the caption stream (component tag 0x30).
    build::StreamBuilder sb;
    sb.SetCounter(0x0101, 8);
    std::vector<uint8_t> captions = sb.Stream(
        0x0101, {build::PmtSection(build::kMuxFullSegService, build::kMuxFullSegVideoPid, build::Bytes(),
                                   {{0x02, build::kMuxFullSegVideoPid, build::Bytes()},
                                    {0x0F, build::kMuxFullSegAudioPid, build::Bytes()},
                                    {0x06, 0x0130, build::Descriptor(0x52, {0x30})}}, 1)});
    const std::vector<build::Bytes> payloads = build::SplitCaptionPayloads(ReadRealData("captions/toriko_subs.es"));
    uint64_t pts = 0;
    for (size_t i = 0; i < kPictureCaptionPayloads && i < payloads.size(); ++i) {
        pts += 45000;
        const build::Bytes ts = build::Join(build::PesPackets(sb, 0x0130, build::PesPacketWithPts(pts, payloads[i])));
        captions.insert(captions.end(), ts.begin(), ts.end());
    }
    FedViewer viewer("[POSITION]\r\nLeft=40\r\nTop=40\r\nFont=0\r\n[SERVICE]\r\nCH1=27\r\nCH2=26\r\n"
                     "[DISPLAY]\r\nCaptions=1\r\n",
                     build::kMuxFullSegService, mux);
    HWND dialog = viewer.dialog;
    if (dialog == nullptr) return false;
    FeedAll(viewer.plugin, captions);
    HWND view = nullptr;
    for (HWND w = GetWindow(dialog, GW_HWNDFIRST); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (GetWindow(w, GW_OWNER) == dialog && IsWindowVisible(w)) view = w;
    }
    if (view == nullptr) {
        std::printf("captions: the caption view did not open\n");
        return false;
    }
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(view, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages();
    Sleep(300);
    PumpMessages();
    RECT a, b, both;
    GetWindowRect(dialog, &a);
    GetWindowRect(view, &b);
    UnionRect(&both, &a, &b);
    return WriteBmp(path, both);
}

}  // namespace

int main(int argc, char** argv) {
    std::string directory = argc > 1 ? std::string(argv[1]) : ProgramDirectory();
    if (!directory.empty() && directory.back() != '\\' && directory.back() != '/') directory += '\\';

    build::MultiplexOptions options;
    options.cycles = 3;
    options.packetsPerCycle = 0;
    const std::vector<uint8_t> mux = build::BuildTestMultiplex(options);

    const struct {
        int font;
        int templateId;
    } templates[] = {{1, 101}, {0, 102}, {2, 103}};
    int failures = 0;
    for (const auto& t : templates) {
        FedViewer viewer("[POSITION]\r\nLeft=40\r\nTop=40\r\nFont=" + std::to_string(t.font) +
                             "\r\n[SERVICE]\r\nCH1=27\r\nCH2=26\r\nCH3=25\r\nCH4=24\r\nCH5=22\r\nCH6=21\r\n"
                             "CH7=16\r\nCH8=23\r\nCH9=28\r\nCH10=20\r\nCH11=18\r\nCH12=0\r\n",
                         build::kMuxOneSegService, mux);
        HWND dialog = viewer.dialog;
        if (dialog == nullptr) {
            std::printf("template %d: no window\n", t.templateId);
            ++failures;
            continue;
        }
        SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        PumpMessages();
        Sleep(300);
        PumpMessages();
        const std::string path = directory + "viewer-" + std::to_string(t.templateId) + ".bmp";
        if (WriteBmp(path, dialog)) {
            std::printf("wrote %s\n", path.c_str());
        } else {
            std::printf("template %d: could not write %s\n", t.templateId, path.c_str());
            ++failures;
        }
    }
    const std::string tooltip = directory + "tooltip.bmp";
    if (ToolTipPicture(tooltip)) {
        std::printf("wrote %s\n", tooltip.c_str());
    } else {
        std::printf("could not write %s\n", tooltip.c_str());
        ++failures;
    }
    const std::string captionPicture = directory + "captions.bmp";
    if (CaptionPicture(captionPicture)) {
        std::printf("wrote %s\n", captionPicture.c_str());
    } else {
        std::printf("could not write %s\n", captionPicture.c_str());
        ++failures;
    }
    const std::string guide = directory + "guide.bmp";
    if (GuidePicture(guide)) {
        std::printf("wrote %s\n", guide.c_str());
    } else {
        std::printf("could not write %s\n", guide.c_str());
        ++failures;
    }
    WriteSettingsFile("");
    DeleteFileA((ProgramDirectory() + "Kestrin.epg").c_str());
    return failures == 0 ? 0 : 1;
}
