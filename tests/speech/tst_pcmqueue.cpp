#include "PcmQueue.h"

#include <QTest>

#include <atomic>
#include <numeric>
#include <thread>

using speech::PcmQueue;

class TestPcmQueue : public QObject {
    Q_OBJECT
private slots:
    void keepsOrderAcrossTheWrap() {
        PcmQueue q(7);
        q.reset(1);
        std::vector<std::int16_t> in(5);
        std::iota(in.begin(), in.end(), 1);
        std::int16_t out[16] = {};
        QVERIFY(q.push(1, in.data(), 5));
        QCOMPARE(q.pop(out, 3), std::size_t(3)); // 1 2 3
        QVERIFY(q.push(1, in.data(), 5));        // wraps
        QCOMPARE(q.pop(out, 16), std::size_t(7));
        const std::int16_t expected[] = {4, 5, 1, 2, 3, 4, 5};
        QVERIFY(std::equal(expected, expected + 7, out));
        QCOMPARE(q.consumed(), std::uint64_t(10));
    }

    void producerBlocksWhileFullAndAllOfItArrives() {
        PcmQueue q(100);
        q.reset(1);
        std::vector<std::int16_t> in(10000);
        std::iota(in.begin(), in.end(), 0);
        std::thread producer([&] {
            q.push(1, in.data(), in.size());
            q.finish(1);
        });
        std::vector<std::int16_t> got;
        std::int16_t buffer[37];
        while (!q.finished()) {
            const std::size_t n = q.pop(buffer, 37);
            got.insert(got.end(), buffer, buffer + n);
            QVERIFY(q.size() <= 100);
            if (n == 0)
                std::this_thread::yield();
        }
        producer.join();
        QVERIFY(got == in);
    }

    void resetReleasesABlockedProducerAndDropsOldAudio() {
        PcmQueue q(10);
        q.reset(1);
        std::vector<std::int16_t> in(100, 7);
        std::atomic<bool> accepted{true};
        std::thread producer([&] { accepted = q.push(1, in.data(), in.size()); });
        QTRY_COMPARE(q.size(), std::size_t(10));
        q.reset(2);
        producer.join();
        QVERIFY(!accepted);
        QCOMPARE(q.size(), std::size_t(0));
        QVERIFY(!q.push(1, in.data(), 1)); // stale generation is dropped
        QCOMPARE(q.size(), std::size_t(0));
        QCOMPARE(q.consumed(), std::uint64_t(0));
    }

    void finishOnlyCountsForTheCurrentGeneration() {
        PcmQueue q(10);
        q.reset(3);
        q.finish(2);
        QVERIFY(!q.finished());
        std::int16_t s = 1;
        q.push(3, &s, 1);
        q.finish(3);
        QVERIFY(!q.finished()); // still something to play
        q.pop(&s, 1);
        QVERIFY(q.finished());
    }

    void closeReleasesProducers() {
        PcmQueue q(1);
        q.reset(1);
        std::vector<std::int16_t> in(10, 1);
        std::thread producer([&] { q.push(1, in.data(), in.size()); });
        QTRY_COMPARE(q.size(), std::size_t(1));
        q.close();
        producer.join();
    }
};

QTEST_GUILESS_MAIN(TestPcmQueue)
#include "tst_pcmqueue.moc"
