#include "messages/KvSynchObjectList.h"

#include <QPointer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace {

class TBase : public QObject {
    Q_OBJECT
public:
    explicit TBase(int AId = 0) : Id(AId) {}
    int Id;
};

class TDerived : public TBase {
    Q_OBJECT
public:
    using TBase::TBase;
};

class TOther : public QObject {
    Q_OBJECT
};

TEST(KvSynchObjectListTest, OwningListFreesWhatItDeletesRemovesAndClears)
{
    QPointer<TBase> A = new TBase, B = new TBase, C = new TBase, D = new TBase, E = new TBase;
    {
        TKvSynchObjectList List(true);
        for (TBase* Item : {A.data(), B.data(), C.data(), D.data(), E.data()})
            List.Add(Item);
        List.Delete(0);
        EXPECT_TRUE(A.isNull());
        EXPECT_EQ(List.Remove(C), 1);
        EXPECT_TRUE(C.isNull());
        EXPECT_EQ(List.Extract(B), B.data());
        EXPECT_FALSE(B.isNull());  // extracted: the caller owns it now
        EXPECT_EQ(List.Count(), 2);
        List.Clear();
        EXPECT_TRUE(D.isNull());
        EXPECT_TRUE(E.isNull());
        List.Add(new TBase);
        List.Add(D = new TBase);
    }
    EXPECT_TRUE(D.isNull());  // the destructor freed what was left
    delete B;
}

TEST(KvSynchObjectListTest, NonOwningListNeverFrees)
{
    TBase A, B;
    {
        TKvSynchObjectList List(false);
        List.Add(&A);
        List.Add(&B);
        List.Delete(0);
        EXPECT_EQ(List.Remove(&B), 0);
        List.Add(&A);
        List.Clear();
        List.Add(&B);
    }
    EXPECT_EQ(A.Id, 0);  // both still alive: touching them is safe
    EXPECT_EQ(B.Id, 0);
}

TEST(KvSynchObjectListTest, PositionalOperations)
{
    TKvSynchObjectList List(false);
    TBase A(1), B(2), C(3);
    EXPECT_EQ(List.Add(&A), 0);
    EXPECT_EQ(List.Add(&C), 1);
    List.Insert(1, &B);
    List.Insert(3, &A);  // at the end
    EXPECT_EQ(List.Count(), 4);
    EXPECT_EQ(List.First(), &A);
    EXPECT_EQ(List.Last(), &A);
    EXPECT_EQ(List.Items(1), &B);
    EXPECT_EQ(List.IndexOf(&C), 2);
    EXPECT_EQ(List.IndexOf(&A), 0);  // the first occurrence
    EXPECT_EQ(List.Remove(&A), 0);
    EXPECT_EQ(List.IndexOf(&A), 2);

    TBase Absent;
    EXPECT_EQ(List.IndexOf(&Absent), -1);
    EXPECT_EQ(List.Remove(&Absent), -1);
    EXPECT_EQ(List.Extract(&Absent), nullptr);
    EXPECT_EQ(List.Count(), 3);
}

TEST(KvSynchObjectListTest, BadIndexesThrowAndLeaveTheListUsable)
{
    TKvSynchObjectList List(true);
    EXPECT_THROW(List.First(), std::out_of_range);
    EXPECT_THROW(List.Last(), std::out_of_range);
    EXPECT_THROW(List.Items(0), std::out_of_range);
    EXPECT_THROW(List.Delete(0), std::out_of_range);
    auto* Item = new TBase;
    EXPECT_THROW(List.Insert(1, Item), std::out_of_range);
    EXPECT_THROW(List.Insert(-1, Item), std::out_of_range);
    List.Insert(0, Item);
    EXPECT_THROW(List.Items(1), std::out_of_range);
    EXPECT_THROW(List.Delete(-1), std::out_of_range);

    // Every failed operation released the lock: another thread gets through.
    std::thread Other([&] { List.Add(new TBase); });
    Other.join();
    EXPECT_EQ(List.Count(), 2);
}

TEST(KvSynchObjectListTest, FindInstanceOfExactOrDescendantFromStart)
{
    TKvSynchObjectList List(true);
    List.Add(new TOther);    // 0
    List.Add(new TDerived);  // 1
    List.Add(new TBase);     // 2
    List.Add(nullptr);       // 3
    List.Add(new TDerived);  // 4

    EXPECT_EQ(List.FindInstanceOf(&TBase::staticMetaObject, true, 0), 2);
    EXPECT_EQ(List.FindInstanceOf(&TBase::staticMetaObject, false, 0), 1);
    EXPECT_EQ(List.FindInstanceOf(&TDerived::staticMetaObject, true, 2), 4);
    EXPECT_EQ(List.FindInstanceOf(&TDerived::staticMetaObject, true, 5), -1);
    EXPECT_EQ(List.FindInstanceOf(&TBase::staticMetaObject, false, -3), 1);
    EXPECT_EQ(List.FindInstanceOf(&QObject::staticMetaObject, false, 0), 0);
    EXPECT_EQ(List.FindInstanceOf(&QObject::staticMetaObject, true, 0), -1);
    EXPECT_EQ(List.FindInstanceOf(nullptr, false, 0), -1);
}

TEST(KvSynchObjectListTest, LockIsReentrantForItsHolder)
{
    TKvSynchObjectList List(true);
    TKvSynchObjectList::TLockGuard Outer(List);
    List.Lock();
    List.Add(new TBase);
    EXPECT_EQ(List.Count(), 1);
    List.Unlock();
}

TEST(KvSynchObjectListTest, CompoundOperationsUnderTheLockActAsOne)
{
    // Two threads each add every id that is not in the list yet. Only when the look-up and
    // the addition run under one lock does every id end up in the list exactly once.
    TKvSynchObjectList List(true);
    constexpr int Ids = 2000;
    auto AddMissing = [&] {
        for (int Id = 0; Id < Ids; ++Id) {
            TKvSynchObjectList::TLockGuard Guard(List);
            bool Found = false;
            for (int I = List.Count() - 1; I >= 0 && !Found; --I)
                Found = static_cast<TBase*>(List.Items(I))->Id == Id;
            if (!Found)
                List.Add(new TBase(Id));
        }
    };
    std::thread First(AddMissing), Second(AddMissing);
    First.join();
    Second.join();

    ASSERT_EQ(List.Count(), Ids);
    std::vector<int> Seen(Ids, 0);
    for (int I = 0; I < List.Count(); ++I)
        ++Seen[size_t(static_cast<TBase*>(List.Items(I))->Id)];
    for (int Id = 0; Id < Ids; ++Id)
        ASSERT_EQ(Seen[size_t(Id)], 1) << Id;
}

}  // namespace

#include "KvSynchObjectListTest.moc"
