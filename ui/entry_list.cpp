#include "ui/entry_list.h"

#include <wx/dcclient.h>
#include <wx/dirctrl.h>
#include <wx/imaglist.h>

#include <algorithm>

#include "ui/wx_util.h"

namespace fennic::ui {

wxIMPLEMENT_DYNAMIC_CLASS(CEntryListCtrl, wxListCtrl);

namespace {

constexpr int kMinColumnWidth = 10;
// What the toolkit's own auto-size adds: a margin on each side of the widest cell, and the
// gap between a row's icon and its text.
constexpr int kAutosizeMargin = 10;
constexpr int kIconTextGap = 5;
// Up to this many rows every cell is measured; beyond, the longest few per column.
constexpr size_t kMeasureAllRows = 2048;
constexpr size_t kMeasuredRows = 256;

size_t CharacterCount(const std::string& utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The extension as the file name splitter of the toolkit sees it, with either slash ending a
// folder: nothing for a leading dot (a hidden file) or a name without a dot.
std::string ExtensionOf(const std::string& name) {
    const size_t base = name.find_last_of("/\\");
    const size_t start = base == std::string::npos ? 0 : base + 1;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= start) return {};
    return name.substr(dot + 1);
}

}  // namespace

wxWindow* CEntryListCtrl::ChildWindow(const void* which) const {
    for (wxWindow* child : GetChildren()) {
        if (static_cast<const void*>(child) == which) return child;
    }
    return nullptr;
}

wxWindow* CEntryListCtrl::RowsWindow() const {
    return ChildWindow(m_mainWin);
}

wxWindow* CEntryListCtrl::HeaderWindow() const {
    return ChildWindow(m_headerWin);
}

void CEntryListCtrl::OnInternalIdle() {
    wxListCtrl::OnInternalIdle();
    // The toolkit repaints the header when a scroll event arrives, before the rows move, so a
    // horizontal scroll left it drawn at the previous offset. Whatever moved the rows, the
    // header follows once things settle.
    const int x = GetViewStart().x;
    if (x == m_viewStartX) return;
    m_viewStartX = x;
    if (wxWindow* header = HeaderWindow()) header->Refresh();
}

int CEntryListCtrl::IconIndexFor(const std::string& name, bool isDirectory) {
    if (isDirectory) return wxFileIconsTable::folder;
    const std::string ext = ExtensionOf(name);
    if (ext.empty()) return wxFileIconsTable::file;
    // The table asks the MIME database for each lookup; once per extension is enough.
    auto found = m_iconByExtension.find(ext);
    if (found == m_iconByExtension.end()) {
        found = m_iconByExtension.emplace(ext, wxTheFileIconsTable->GetIconID(FromUtf8(ext))).first;
    }
    return found->second;
}

void CEntryListCtrl::SetRows(std::vector<EntryRow> rows, const std::vector<bool>& isDirectory) {
    DeleteAllItems();  // also drops the selection
    m_rows = std::move(rows);
    m_icons.resize(m_rows.size());
    static const std::string kNoName;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const std::string& name = m_rows[i].empty() ? kNoName : m_rows[i][0];
        m_icons[i] = IconIndexFor(name, i < isDirectory.size() && isDirectory[i]);
    }
    FitColumns();
    SetItemCount(static_cast<long>(m_rows.size()));
    Refresh();
}

wxString CEntryListCtrl::OnGetItemText(long item, long column) const {
    if (item < 0 || static_cast<size_t>(item) >= m_rows.size() || column < 0) return {};
    const EntryRow& row = m_rows[static_cast<size_t>(item)];
    return static_cast<size_t>(column) < row.size() ? FromUtf8(row[static_cast<size_t>(column)])
                                                    : wxString();
}

int CEntryListCtrl::OnGetItemImage(long item) const {
    return OnGetItemColumnImage(item, 0);
}

int CEntryListCtrl::OnGetItemColumnImage(long item, long column) const {
    if (column != 0 || item < 0 || static_cast<size_t>(item) >= m_icons.size()) return -1;
    return m_icons[static_cast<size_t>(item)];
}

std::vector<size_t> CEntryListCtrl::WidestCandidates(size_t column) const {
    std::vector<std::pair<size_t, size_t>> byLength;  // characters, row
    byLength.reserve(m_rows.size());
    for (size_t r = 0; r < m_rows.size(); ++r) {
        if (column < m_rows[r].size()) byLength.emplace_back(CharacterCount(m_rows[r][column]), r);
    }
    if (byLength.size() > kMeasureAllRows) {
        std::nth_element(byLength.begin(), byLength.begin() + kMeasuredRows, byLength.end(),
                         std::greater<>());
        byLength.resize(kMeasuredRows);
    }
    std::vector<size_t> rows;
    rows.reserve(byLength.size());
    for (const auto& entry : byLength) rows.push_back(entry.second);
    return rows;
}

void CEntryListCtrl::FitColumns() {
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    int iconWidth = 0;
    int iconHeight = 0;
    if (wxImageList* icons = GetImageList(wxIMAGE_LIST_SMALL))
        icons->GetSize(0, iconWidth, iconHeight);
    for (int c = 0; c < GetColumnCount(); ++c) {
        // While the list is empty this is the header alone; with rows the toolkit would also
        // measure every row it takes for visible, all of them before the first layout.
        SetColumnWidth(c, wxLIST_AUTOSIZE_USEHEADER);
        int widest = kAutosizeMargin;
        for (size_t r : WidestCandidates(static_cast<size_t>(c))) {
            int cell = dc.GetTextExtent(FromUtf8(m_rows[r][static_cast<size_t>(c)])).x;
            if (c == 0 && m_icons[r] >= 0) cell += iconWidth + kIconTextGap;
            widest = std::max(widest, cell);
        }
        SetColumnWidth(c, std::max({GetColumnWidth(c), widest + kAutosizeMargin, kMinColumnWidth}));
    }
}

}  // namespace fennic::ui
