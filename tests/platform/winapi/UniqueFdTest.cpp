#include "UniqueFd.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

bool isOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}

} // namespace

class UniqueFdTest : public QObject
{
    Q_OBJECT

private slots:
    void closesWhenItGoes()
    {
        int raw = -1;
        {
            const UniqueFd fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
            QVERIFY(fd.isValid());
            raw = fd.get();
            QVERIFY(isOpen(raw));
        }
        QVERIFY(!isOpen(raw));
    }

    void ownershipMovesExactlyOnce()
    {
        UniqueFd first(open("/dev/null", O_RDONLY | O_CLOEXEC));
        const int raw = first.get();
        UniqueFd second(std::move(first));
        QCOMPARE(first.get(), -1);
        QCOMPARE(second.get(), raw);

        UniqueFd third(open("/dev/null", O_RDONLY | O_CLOEXEC));
        const int replaced = third.get();
        third = std::move(second);
        QVERIFY(!isOpen(replaced));
        QCOMPARE(third.get(), raw);
        QVERIFY(isOpen(raw));

        UniqueFd &alias = third;
        third = std::move(alias);
        QCOMPARE(third.get(), raw);
        QVERIFY(isOpen(raw));
    }

    void releaseHandsTheDescriptorOver()
    {
        UniqueFd fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
        const int raw = fd.release();
        QVERIFY(!fd.isValid());
        QVERIFY(isOpen(raw));
        ::close(raw);
    }

    // A caller reports errno after dropping the descriptor of a failed call; closing must not change it.
    void resetKeepsErrno()
    {
        UniqueFd fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
        const int raw = fd.get();
        errno = ENOSPC;
        fd.reset();
        QCOMPARE(errno, ENOSPC);
        QVERIFY(!isOpen(raw));

        // Even when close(2) itself fails: no process has this many descriptors open.
        UniqueFd stale(1 << 30);
        errno = ENOSPC;
        stale.reset();
        QCOMPARE(errno, ENOSPC);
    }

    void resetToTheSameDescriptorKeepsItOpen()
    {
        UniqueFd fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
        const int raw = fd.get();
        fd.reset(raw);
        QVERIFY(isOpen(raw));
    }

    void closeReportsFailure()
    {
        UniqueFd fd(open("/dev/null", O_RDONLY | O_CLOEXEC));
        const int raw = fd.get();
        QVERIFY(fd.close());
        QVERIFY(!fd.isValid());
        QVERIFY(!isOpen(raw));

        UniqueFd empty;
        errno = 0;
        QVERIFY(!empty.close());
        QCOMPARE(errno, EBADF);
    }
};

QTEST_GUILESS_MAIN(UniqueFdTest)
#include "UniqueFdTest.moc"
