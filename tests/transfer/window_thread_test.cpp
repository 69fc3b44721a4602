#include "transfer/window_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "app/frontend.h"
#include "tests/fixtures/fixtures.h"
#include "tests/transfer/recording_view.h"

namespace fennic {
namespace {

TEST(WindowThread, SendWaitsUntilTheWindowThreadRanIt) {
    CWindowThread loop;
    loop.Begin();
    const auto windowThread = std::this_thread::get_id();
    std::vector<int> order;  // touched only on the window thread, or after the join
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            int seen = -1;
            loop.Send([&] {
                EXPECT_EQ(std::this_thread::get_id(), windowThread);
                order.push_back(i);
                seen = i;
            });
            EXPECT_EQ(seen, i);  // applied before Send returned
        }
        loop.Post([&] { loop.Quit(7); });
    });
    EXPECT_EQ(loop.Run(), 7);
    worker.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(WindowThread, PostReturnsAtOnceAndKeepsOrder) {
    CWindowThread loop;
    loop.Begin();
    std::vector<int> order;
    std::thread worker([&] {
        for (int i = 0; i < 10; ++i) loop.Post([&order, i] { order.push_back(i); });
        loop.Post([&] { loop.Quit(1); });
        loop.Post([&] { order.push_back(99); });  // after Quit: dropped
    });
    worker.join();  // every Post returned without the loop running
    EXPECT_EQ(loop.Run(), 1);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(WindowThread, SendOnTheWindowThreadRunsInline) {
    CWindowThread loop;
    loop.Begin();
    bool ran = false;
    loop.Send([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(WindowThread, WaitingSendersAreReleasedWhenTheRunEnds) {
    CWindowThread loop;
    loop.Begin();
    std::atomic<bool> returned{false};
    std::atomic<bool> ran{false};
    loop.Post([&] { loop.Quit(3); });
    std::thread worker([&] {
        // Queued behind the Quit: never run, but Send must not hang.
        loop.Send([&] { ran = true; });
        returned = true;
    });
    // Let the worker queue its Send before the loop runs.
    ASSERT_TRUE(test::WaitUntil([&] { return loop.QueuedCount() >= 2; }));
    ASSERT_EQ(loop.QueuedCount(), 2u);
    EXPECT_FALSE(returned);  // Send is still waiting
    EXPECT_EQ(loop.Run(), 3);
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(ran);
    loop.Send([&] { ran = true; });  // after the end: dropped, from any thread
    std::thread late([&] { loop.Send([&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(ran);
}

TEST(WindowThread, IdleHandlerRunsWhileNothingIsQueued) {
    CWindowThread loop;
    loop.Begin();
    int idles = 0;
    loop.SetIdleHandler(
        [&] {
            if (++idles == 3) loop.Quit(5);
        },
        std::chrono::milliseconds(1));
    EXPECT_EQ(loop.Run(), 5);
    EXPECT_EQ(idles, 3);
}

// A dialog that counts what the window calls, with a worker that updates and ends.
class FakeDialog : public IProgressDialog {
public:
    void OnInitDialog(IProgressView& view) override {
        view_ = &view;
        ++inits;
        if (endAtStart) return view.EndDialog(IDCANCEL);
        worker = std::thread([this] {
            for (int i = 0; i < 20; ++i)
                view_->Send([this, i] { view_->SetText(IDC_STATUS, std::to_string(i)); });
            view_->Post([this] { view_->EndDialog(cancels > 0 ? IDCANCEL : IDOK); });
        });
    }
    void OnCancel() override { ++cancels; }
    void OnClose() override { ++closes; }
    void OnDestroy() override {
        ++destroys;
        if (worker.joinable()) worker.join();
    }
    IProgressView* view_ = nullptr;
    std::thread worker;
    bool endAtStart = false;
    int inits = 0, cancels = 0, closes = 0, destroys = 0;
};

TEST(LoopProgressView, RunsADialogAndCanRunAgain) {
    test::RecordingView view;
    FakeDialog dlg;
    EXPECT_EQ(view.RunModal(dlg), IDOK);
    EXPECT_EQ(view.Texts(IDC_STATUS).size(), 20u);
    EXPECT_EQ(view.Texts(IDC_STATUS).back(), "19");
    EXPECT_EQ(dlg.destroys, 1);

    dlg.endAtStart = true;
    EXPECT_EQ(view.RunModal(dlg), IDCANCEL);
    EXPECT_EQ(dlg.inits, 2);
    EXPECT_EQ(dlg.destroys, 2);
}

TEST(LoopProgressView, CancelAndCloseReachTheDialogOnTheWindowThread) {
    test::RecordingView view;
    FakeDialog dlg;
    bool pressed = false;
    view.onEvent = [&](const test::ViewEvent& e) {
        if (!pressed && e.kind == test::ViewEvent::kText && e.text == "3") {
            pressed = true;
            std::thread([&] {
                view.Cancel();
                view.Close();
            }).join();
        }
    };
    EXPECT_EQ(view.RunModal(dlg), IDCANCEL);
    EXPECT_EQ(dlg.cancels, 1);
    EXPECT_EQ(dlg.closes, 1);
}

}  // namespace
}  // namespace fennic
