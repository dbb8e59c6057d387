#include "ui/CMyThread.h"

CMyThread::CMyThread(QObject* parent) : QThread(parent) {}

void CMyThread::SetFunc(WorkFunc func, void* ctx) {
    m_func = func;
    m_ctx = ctx;
}

void CMyThread::run() {
    if (!m_func) return;
    int ret = 0;
    m_func(m_ctx, ret);
}
