#pragma once
// A worker thread that runs one plain work function with its context.
#include <QThread>

class CMyThread : public QThread {
    Q_OBJECT
public:
    typedef void (*WorkFunc)(void* ctx, int& ret);

    explicit CMyThread(QObject* parent = nullptr);
    void SetFunc(WorkFunc func, void* ctx);

protected:
    void run() override;

private:
    WorkFunc m_func = nullptr;
    void* m_ctx = nullptr;
};
