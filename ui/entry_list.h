#pragma once
// The main window's entry list: a virtual report list over the rows the core has already
// formatted, so that 65,535 entries cost about as much to show as one screenful.

#include <wx/listctrl.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "app/entry_columns.h"

namespace fennic::ui {

class CEntryListCtrl : public wxListCtrl {
public:
    CEntryListCtrl() = default;

    // Replaces the rows and fits the columns to them; `isDirectory[i]` gives row i the folder
    // icon, other rows get the icon of their name's extension.
    void SetRows(std::vector<EntryRow> rows, const std::vector<bool>& isDirectory);
    size_t RowCount() const { return m_rows.size(); }

    // The scrolled window that paints the rows, below the header.
    wxWindow* RowsWindow() const;
    // The column headers above it.
    wxWindow* HeaderWindow() const;

    // The file icon table's index for a name as the list shows it.
    int IconIndexFor(const std::string& name, bool isDirectory);

    void OnInternalIdle() override;

protected:
    wxString OnGetItemText(long item, long column) const override;
    int OnGetItemImage(long item) const override;
    int OnGetItemColumnImage(long item, long column) const override;

private:
    // Every column as wide as its header and its widest cell, and at least 10 pixels. With many
    // rows only the cells with the most characters are measured. Called before the rows are
    // counted in.
    void FitColumns();
    // The toolkit keeps its two child windows in members of types it does not publish.
    wxWindow* ChildWindow(const void* which) const;
    // Rows whose cell in `column` is measured by FitColumns().
    std::vector<size_t> WidestCandidates(size_t column) const;

    std::vector<EntryRow> m_rows;
    std::vector<int> m_icons;
    std::unordered_map<std::string, int> m_iconByExtension;
    int m_viewStartX = 0;  // the horizontal scroll position at the last idle time

    wxDECLARE_DYNAMIC_CLASS(CEntryListCtrl);
};

}  // namespace fennic::ui
