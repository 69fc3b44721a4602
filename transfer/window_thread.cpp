#include "transfer/window_thread.h"

#include "app/frontend.h"

namespace fennic {

void CWindowThread::Begin() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_quit = false;
    m_result = 0;
    m_owner = std::this_thread::get_id();
}

void CWindowThread::Send(std::function<void()> fn) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_open) return;
    if (std::this_thread::get_id() == m_owner) {
        lock.unlock();
        fn();
        return;
    }
    auto item = std::make_shared<Item>();
    item->fn = std::move(fn);
    m_queue.push_back(item);
    m_wake.notify_one();
    m_done.wait(lock, [&] { return item->done; });
}

void CWindowThread::Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return;
    auto item = std::make_shared<Item>();
    item->fn = std::move(fn);
    m_queue.push_back(std::move(item));
    m_wake.notify_one();
}

int CWindowThread::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (m_queue.empty()) {
            if (m_wake.wait_for(lock, m_idlePeriod) == std::cv_status::timeout && m_idle &&
                m_queue.empty() && !m_quit) {
                auto idle = m_idle;
                lock.unlock();
                idle();
                lock.lock();
            }
            continue;
        }
        std::shared_ptr<Item> item = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        item->fn();
        item->fn = nullptr;
        lock.lock();
        item->done = true;
        m_done.notify_all();
    }
    DropAllLocked();
    m_open = false;
    return m_result;
}

void CWindowThread::Quit(int result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_quit) return;  // the first result stands
    m_quit = true;
    m_result = result;
}

bool CWindowThread::QuitRequested() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_quit;
}

size_t CWindowThread::QueuedCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}

void CWindowThread::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    DropAllLocked();
    m_open = false;
}

void CWindowThread::SetIdleHandler(std::function<void()> idle, std::chrono::milliseconds period) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idle = std::move(idle);
    m_idlePeriod = period;
}

void CWindowThread::DropAllLocked() {
    for (auto& item : m_queue) item->done = true;
    m_queue.clear();
    m_done.notify_all();
}

void CLoopProgressView::Cancel() {
    m_loop.Post([this] {
        if (m_dlg) m_dlg->OnCancel();
    });
}

void CLoopProgressView::Close() {
    m_loop.Post([this] {
        if (m_dlg) m_dlg->OnClose();
    });
}

int CLoopProgressView::RunModal(IProgressDialog& dlg) {
    m_loop.Begin();
    m_dlg = &dlg;
    OnRunBegin();
    dlg.OnInitDialog(*this);
    const int result = m_loop.Run();  // returns at once when the dialog already ended
    dlg.OnDestroy();
    m_dlg = nullptr;
    return result;
}

int CHeadlessView::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
    return m_frontEnd.MessageBox(text, caption, style);
}

int CHeadlessProgressHost::RunModal(IProgressDialog& dlg) {
    CHeadlessView view(m_frontEnd);
    return view.RunModal(dlg);
}

}  // namespace fennic
