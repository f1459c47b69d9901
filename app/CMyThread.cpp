#include "app/CMyThread.h"

CMyThread::CMyThread(QObject* parent) : QThread(parent), m_nProcess(0), m_pFunc(nullptr), m_pCtx(nullptr) {}

CMyThread::~CMyThread()
{
    quit();
    wait();
}

void CMyThread::SetFunc(THREAD_FUNC func, void* ctx)
{
    m_pFunc = func;
    m_pCtx = ctx;
}

void CMyThread::run()
{
    if (!m_pFunc)
        return;
    int r = 0;
    m_pFunc(m_pCtx, r);
}
