// The worker thread: runs one engine operation (scan, listing, preview or
// recovery) away from the user-interface thread, which meanwhile sits in
// the operation's progress dialog.
#pragma once

#include <QThread>

#include <chrono>

class CMyThread : public QThread
{
    Q_OBJECT

  public:
    typedef void (*THREAD_FUNC)(void* ctx, int& result);

    explicit CMyThread(QObject* parent = nullptr);
    // Joins the thread: the operation may still be returning when its
    // dialog has already closed.
    ~CMyThread() override;

    void SetFunc(THREAD_FUNC func, void* ctx);

  signals:
    void ProcessCallBack(int nProcess);

  protected:
    void run() override;

  private:
    int m_nProcess;
    THREAD_FUNC m_pFunc;
    void* m_pCtx;
};

// Engines report as often as they like (a FAT scan after every directory
// cluster); the dialog needs a few pictures a second. Lets a report through
// when it must be seen (a file ended, the operation completed) or when the
// last one let through is old enough. Used on the worker thread only.
class CProgressThrottle
{
  public:
    static constexpr int INTERVAL_MS = 100;

    void Reset() { m_bAny = false; }
    bool Pass(bool bForce)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!bForce && m_bAny && now - m_last < std::chrono::milliseconds(INTERVAL_MS))
            return false;
        m_bAny = true;
        m_last = now;
        return true;
    }

  private:
    bool m_bAny = false;
    std::chrono::steady_clock::time_point m_last;
};
