#pragma once
// The command line's progress window: on a terminal one line on stderr that is rewritten with
// the percent caption, the status, the time left and the rate; nothing when stderr is not a
// terminal. Messages of the transfers go to the front end. Ctrl-C during a run is Cancel.

#include <cstdio>

#include "app/frontend.h"
#include "transfer/progress_view.h"

namespace fennic::cli {

class CConsoleProgressHost : public IProgressHost {
public:
    // `show`: draw the progress line (defaults to whether stderr is a terminal).
    explicit CConsoleProgressHost(IFrontEnd& frontEnd);
    CConsoleProgressHost(IFrontEnd& frontEnd, std::FILE* err, bool show);
    int RunModal(IProgressDialog& dlg) override;

private:
    IFrontEnd& m_frontEnd;
    std::FILE* m_err;
    bool m_show;
};

}  // namespace fennic::cli
