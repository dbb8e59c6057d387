#pragma once
// The window's test classes register here and run one after the other in one application.
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <QtTest>
#include <functional>
#include <vector>

inline std::vector<std::function<int(int, char**)>>& UiTestClasses() {
    static std::vector<std::function<int(int, char**)>> classes;
    return classes;
}

#define ORVALE_UI_TEST(Class) \
    static const bool Class##Registered = (UiTestClasses().push_back([](int argc, char** argv) { Class test; return QTest::qExec(&test, argc, argv); }), true)

// The first row of the tree, at any depth, showing exactly text; null when none does.
inline QTreeWidgetItem* Row(QTreeWidget* tree, const QString& text) {
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// Acts on the modal dialogs a call opens while the test is blocked in them. The handler runs
// from a posted call, not the timer: acting may block in a nested dialog while the timer must fire.
class ModalDriver {
public:
    explicit ModalDriver(std::function<void(QWidget*)> handler) : m_handler(std::move(handler)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QPointer<QWidget> w = QApplication::activeModalWidget();
            if (!w || m_busy.contains(w)) return;
            m_busy.append(w);
            QTimer::singleShot(0, &m_timer, [this, w] {
                if (w) m_handler(w);
                m_busy.removeAll(w);
            });
        });
        m_timer.start(10);
    }

private:
    std::function<void(QWidget*)> m_handler;
    QTimer m_timer;
    QList<QPointer<QWidget>> m_busy;
};
