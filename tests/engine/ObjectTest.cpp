// Arrays and objects: key typing, order, set operations, dumps and reference counts (run under ASan).
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "engine/TagMapObject.h"
#include "engine/TagVar.h"
#include "engine/pvector.h"
#include "tests/engine/Values.h"

using namespace zz;
using namespace zz::test;

namespace {

int32_t Refs(const TagVar& v) {
    return g_mapObjects.RefCount(v.ObjId());
}

TagVar ObjOf(std::initializer_list<std::pair<TagVar, TagVar>> items) {
    TagVar o;
    for (auto& [k, v] : items)
        o[k] = v;
    return o;
}

void Drop(TagVar& v) {
    v = TagVar();
}

} // namespace

TEST(TagMapObjectIds, IdsOfReleasedObjectsAreNotHandedOutAgain) {
    TagVar a;
    a[Int(1)] = Int(1);
    int32_t first = a.ObjId();
    Drop(a);
    EXPECT_EQ(g_mapObjects.RefCount(first), -1);
    a[Int(1)] = Int(1);
    EXPECT_EQ(a.ObjId(), first + 1);
    Drop(a);
}

TEST(TagMapObjectKeys, IntegerDoubleAndStringOneAreThreeKeysDumpedInKindOrder) {
    TagVar a;
    a[Str("1")] = Str("s");
    a[Dbl(1.0)] = Dbl(2.5);
    a[Int(1)] = Int(7);
    EXPECT_EQ(a.Len(), 3);
    EXPECT_EQ(Text(a), "{\r\n1:7,\r\n\"1\":\"s\",\r\n1.000000:2.5\r\n}");
    Drop(a);
}

TEST(TagMapObjectKeys, EmptyKeyAndZeroAreTheSameElementAndNanIsOneKey) {
    TagVar a;
    a[TagVar()] = Int(5);
    EXPECT_EQ(a[Int(0)].intVal, 5);
    a[Dbl(NAN)] = Int(1);
    a[Dbl(NAN)] = Int(2);
    EXPECT_EQ(a.Len(), 2);
    Drop(a);
}

TEST(TagMapObjectKeys, EmptyObjectDumpsAsBracesOnTwoLines) {
    TagVar a;
    a[Int(1)] = Int(1);
    g_mapObjects.RemoveItem(a.ObjId(), Int(1));
    EXPECT_EQ(Text(a), "{\r\n\r\n}");
    Drop(a);
}

TEST(TagMapObjectRefs, AssignmentCountsAndTheLastReleaseDeletes) {
    TagVar a, b;
    a[Int(1)] = Int(1);
    int32_t id = a.ObjId();
    EXPECT_EQ(Refs(a), 1);
    b = a;
    EXPECT_EQ(Refs(a), 2);
    a = a;
    EXPECT_EQ(Refs(b), 2);
    a = TagVar(Int(0));
    EXPECT_EQ(g_mapObjects.RefCount(id), 1);
    // A typed setter changes the type but drops no reference.
    b.SetInt(0);
    EXPECT_EQ(g_mapObjects.RefCount(id), 1);
    b.SetObjectId(id);
    b = TagVar(Int(0));
    EXPECT_EQ(g_mapObjects.RefCount(id), -1);
}

TEST(TagMapObjectRefs, ElementKeepsInnerObjectAliveUntilOuterIsDeleted) {
    TagVar outer, inner;
    inner[Int(1)] = Str("x");
    int32_t innerId = inner.ObjId();
    outer[Str("in")] = inner;
    Drop(inner);
    EXPECT_EQ(g_mapObjects.RefCount(innerId), 1);
    Drop(outer);
    EXPECT_EQ(g_mapObjects.RefCount(innerId), -1);
}

TEST(TagMapObjectRefs, AssigningAnElementOfTheTargetReadsItBeforeReleasing) {
    // head = head["next"] walks a list whose earlier nodes die on the way.
    TagVar head;
    head[Str("v")] = Int(0);
    TagVar* tail = &head;
    for (int i = 1; i < 4; ++i) {
        TagVar node;
        node[Str("v")] = Int(i);
        (*tail)[Str("next")] = node;
        tail = &(*tail)[Str("next")];
        Drop(node);
    }
    int live = g_mapObjects.Live();
    for (int i = 1; i < 4; ++i) {
        head = head[Str("next")];
        EXPECT_EQ(head[Str("v")].intVal, i);
        EXPECT_EQ(g_mapObjects.Live(), live - i);
    }
    Drop(head);
}

TEST(TagMapObjectRefs, AddCountsTheMergedObject) {
    TagVar a = ObjOf({{Int(1), Str("x")}}), b = ObjOf({{Int(2), Str("z")}});
    TagVar t;
    TagVar::Add(t, a, b);
    EXPECT_EQ(Refs(t), 1);
    int32_t id = t.ObjId();
    Drop(t);
    EXPECT_EQ(g_mapObjects.RefCount(id), -1);
    Drop(a);
    Drop(b);
}

TEST(TagMapObjectRefs, LongChainsAreReleasedWithoutDeepRecursion) {
    int live = g_mapObjects.Live();
    TagVar head;
    for (int i = 0; i < 100000; ++i) {
        TagVar node;
        node[Str("next")] = head;
        head = node;
        Drop(node);
    }
    EXPECT_EQ(g_mapObjects.Live(), live + 100000);
    std::string text = Text(head); // cut at a fixed depth
    EXPECT_FALSE(text.empty());
    Drop(head);
    EXPECT_EQ(g_mapObjects.Live(), live);
}

TEST(TagMapObjectRefs, CyclesKeepEachOtherAliveAndDumpWithoutEndlessRecursion) {
    TagVar a, b;
    a[Int(1)] = Int(1);
    b[Int(1)] = a;
    a[Int(2)] = b;
    a[Int(3)] = a;
    std::string text = Text(a);
    EXPECT_NE(text.find("3:{...}"), std::string::npos);
    EXPECT_NE(text.find("1:{...}"), std::string::npos); // b's way back to a
    int32_t ia = a.ObjId(), ib = b.ObjId();
    Drop(a);
    Drop(b);
    EXPECT_EQ(g_mapObjects.RefCount(ia), 2);
    EXPECT_EQ(g_mapObjects.RefCount(ib), 1);
    // Breaking the cycle from inside deletes both, and the deletion coming back to a finds nothing.
    TagVar h;
    h.SetObjectId(ia);
    h[Int(3)] = TagVar();
    g_mapObjects.Release(ia);
    EXPECT_EQ(g_mapObjects.RefCount(ia), -1);
    EXPECT_EQ(g_mapObjects.RefCount(ib), -1);
}

TEST(TagMapObjectDeadIds, DeadNegativeAndUnknownIdsAreHarmless) {
    for (int32_t id : {-1, -2, 0, 0x7FFFFFF0}) {
        TagVar v;
        v.SetObjectId(id);
        EXPECT_EQ(v.Len(), -1);
        EXPECT_EQ(Text(v), "");
        EXPECT_EQ(&v.Find(Int(1)), &g_nullVar);
        EXPECT_EQ(&v[Int(1)], &g_nullVar);
        std::vector<TagKeyEntry> keys;
        EXPECT_EQ(v.GetKeys(keys), -1);
        TagVar k, val;
        EXPECT_EQ(v.GetItemAt(0, k, val), -1);
        v = TagVar();
        EXPECT_EQ(g_mapObjects.AddRef(id), -1);
        EXPECT_EQ(g_mapObjects.RemoveItem(id, Int(1)), 0);
        EXPECT_EQ(g_mapObjects.Clone(id), -1);
    }
}

TEST(TagMapObjectSets, MergeSubtractIntersectLeaveTheOperandsAlone) {
    TagVar a = ObjOf({{Int(1), Str("x")}});
    TagVar b = ObjOf({{Int(1), Str("y")}, {Int(2), Str("z")}});
    TagVar sum;
    sum = a + b;
    EXPECT_EQ(Text(sum), "{\r\n1:\"x\",\r\n2:\"z\"\r\n}");
    TagVar diff;
    diff = a - b;
    EXPECT_EQ(diff.Len(), 0);
    TagVar prod;
    prod = a * b;
    EXPECT_EQ(Text(prod), "{\r\n1:\"y\"\r\n}");
    EXPECT_EQ(a.Len(), 1);
    EXPECT_EQ(b.Len(), 2);
    for (TagVar* v : {&a, &b, &sum, &diff, &prod})
        Drop(*v);
}

TEST(TagMapObjectSets, MergeFillsKeysTheLeftHoldsEmptyAndObjectKeysBecomeIntegers) {
    TagVar a, b, key;
    a[Int(1)] = TagVar();
    key[Int(0)] = Int(0);
    b[Int(1)] = Int(9);
    b[key] = Int(3);
    TagVar m;
    m = a + b;
    EXPECT_EQ(m[Int(1)].intVal, 9);
    EXPECT_EQ(m.Find(Int(key.ObjId())).intVal, 3);
    for (TagVar* v : {&a, &b, &key, &m})
        Drop(*v);
}

TEST(TagMapObjectWalk, GetItemAtOutOfRangeLeavesTheOutputs) {
    TagVar a = ObjOf({{Int(5), Str("five")}, {Str("k"), Int(1)}});
    TagVar k, v;
    EXPECT_EQ(a.GetItemAt(1, k, v), 1);
    EXPECT_EQ(Bytes(k), "k");
    EXPECT_EQ(v.intVal, 1);
    k.SetInt(77);
    EXPECT_EQ(a.GetItemAt(2, k, v), -2);
    EXPECT_EQ(k.intVal, 77);
    Drop(a);
}

TEST(TagMapObjectWalk, KeyListIsASnapshotByValue) {
    TagVar a = ObjOf({{Int(2), Int(0)}, {Int(10), Int(0)}, {Str("a"), Int(0)}, {Dbl(1.5), Int(0)}});
    std::vector<TagKeyEntry> keys;
    EXPECT_EQ(a.GetKeys(keys), 4);
    Drop(a); // the object dies; the keys stay readable
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0].key.intVal, 2);
    EXPECT_EQ(keys[1].key.intVal, 10);
    EXPECT_EQ(Bytes(keys[2].key), "a");
    EXPECT_EQ(keys[3].kind, 3);
    EXPECT_DOUBLE_EQ(keys[3].key.DblVal(), 1.5);
}

// Integer keys live in a run (the array part) or apart; walks and positions see one ascending order either way.
TEST(TagMapObjectWalk, IntegerKeysKeepOneOrderInAndAroundTheRun) {
    TagVar a;
    for (int32_t k : {5, 6, 7, 3, 10, 8})
        a[Int(k)] = Int(k * 10);
    auto order = [&] {
        std::vector<TagKeyEntry> keys;
        a.GetKeys(keys);
        std::string s;
        for (auto& e : keys)
            s += std::to_string(e.key.intVal) + " ";
        return s;
    };
    EXPECT_EQ(order(), "3 5 6 7 8 10 ");
    EXPECT_EQ(g_mapObjects.RemoveItem(a.ObjId(), Int(6)), 1); // from the middle of the run
    EXPECT_EQ(order(), "3 5 7 8 10 ");
    a[Int(6)] = Int(66);
    a[Int(-1)] = Int(-10);
    EXPECT_EQ(order(), "-1 3 5 6 7 8 10 ");
    TagVar k, v;
    EXPECT_EQ(a.GetItemAt(3, k, v), 3);
    EXPECT_EQ(k.intVal, 6);
    EXPECT_EQ(v.intVal, 66);
    EXPECT_EQ(a.GetItemAt(6, k, v), 6);
    EXPECT_EQ(k.intVal, 10);
    EXPECT_EQ(a.Len(), 7);
    EXPECT_EQ(a.Find(Int(8)).intVal, 80);
    Drop(a);
}

// An element stays where it is while the object grows, so a reference to it stays good.
TEST(TagMapObjectWalk, ElementsStayInPlaceWhileTheObjectGrows) {
    TagVar a;
    TagVar& first = a[Int(0)];
    TagVar& named = a[Str("x")];
    for (int32_t i = 1; i < 5000; ++i) {
        a[Int(i)] = Int(i);
        a[Str("k" + std::to_string(i))] = Int(i);
    }
    first = Int(-1);
    named = Str("y");
    EXPECT_EQ(a.Find(Int(0)).intVal, -1);
    EXPECT_EQ(Bytes(a.Find(Str("x"))), "y");
    Drop(a);
}

// What another line is to read gets a copy of the object and of all it reaches, with the same shape.
TEST(TagMapObjectCopies, ADetachedCopyIsWholeAndApart) {
    int live = g_mapObjects.Live();
    TagVar inner = ObjOf({{Int(1), Str("x")}});
    TagVar outer = ObjOf({{Str("a"), inner}, {Str("b"), inner}});
    outer[Str("self")] = outer;
    TagVar copy;
    copy.AssignDetached(outer);
    EXPECT_NE(copy.ObjId(), outer.ObjId());
    EXPECT_EQ(Refs(copy), 2) << "the copy's variable and its own element";
    EXPECT_EQ(Text(copy), Text(outer));
    TagVar ca = copy.Find(Str("a")), cb = copy.Find(Str("b"));
    EXPECT_NE(ca.ObjId(), inner.ObjId());
    EXPECT_EQ(ca.ObjId(), cb.ObjId()) << "one inner object, copied once";
    EXPECT_EQ(copy.Find(Str("self")).ObjId(), copy.ObjId()) << "the cycle comes back to the copy";
    ca[Int(1)] = Str("changed");
    EXPECT_EQ(Bytes(inner.Find(Int(1))), "x");
    for (TagVar* v : {&ca, &cb, &inner})
        Drop(*v);
    outer[Str("self")] = TagVar();
    copy[Str("self")] = TagVar();
    Drop(outer);
    Drop(copy);
    EXPECT_EQ(g_mapObjects.Live(), live);
}

TEST(TagVarSubscript, StringBecomesObjectAndReadOnlyStaysUnchanged) {
    TagVar s = Str("abc");
    s[Int(4)];
    EXPECT_EQ(s.type, TagVar::kObject);
    EXPECT_EQ(s.Len(), 1);
    EXPECT_EQ(Refs(s), 1);
    EXPECT_EQ(s.Find(Int(4)).type, TagVar::kEmpty);
    EXPECT_EQ(&s.Find(Int(5)), &g_nullVar);
    EXPECT_EQ(s.Len(), 1);
    Drop(s);
}

TEST(TagMapObjectThreads, ConcurrentCreationAndReleaseKeepTheRegistryConsistent) {
    int live = g_mapObjects.Live();
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
        ts.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                TagVar a, b, c;
                c[Int(0)] = Int(i);
                a[Int(i)] = c;
                b = a;
                c = TagVar();
                a = TagVar();
                b = TagVar();
            }
        });
    for (auto& t : ts)
        t.join();
    EXPECT_EQ(g_mapObjects.Live(), live);
}

TEST(TagMapObjectCompare, ObjectsOrderByElementCountAndEqualOnlyBySameId) {
    TagVar a = ObjOf({{Int(1), Int(0)}, {Int(2), Int(0)}, {Int(3), Int(0)}});
    TagVar b = ObjOf({{Int(1), Int(0)}, {Int(2), Int(0)}});
    TagVar c = ObjOf({{Int(1), Int(0)}, {Int(2), Int(0)}});
    EXPECT_EQ(TagVar::IsGreater(a, b), 1);
    EXPECT_EQ(TagVar::IsLess(b, a), 1);
    EXPECT_EQ(TagVar::IsGreater(b, c), 0);
    EXPECT_EQ(TagVar::IsEqual(b, c), 0);
    TagVar b2;
    b2 = b;
    EXPECT_EQ(TagVar::IsEqual(b, b2), 1);
    EXPECT_EQ(TagVar::IsEqual(b, Str("x")), 0);
    for (TagVar* v : {&a, &b, &c, &b2})
        Drop(*v);
}

TEST(EngineLists, IndexingBeyondTheEndGrowsTheList) {
    pvector<TagVar> p;
    EXPECT_EQ(p[3].get(), nullptr);
    EXPECT_EQ(p.Count(), 4);
    p[1] = std::make_unique<TagVar>(Int(5));
    EXPECT_EQ(p.Get(1)->intVal, 5);
    EXPECT_EQ(p.Get(9), nullptr);
    EXPECT_EQ(p.Remove(1)->intVal, 5);
    EXPECT_EQ(p.Count(), 3);
    EXPECT_EQ(p[-1].get(), nullptr);
    EXPECT_EQ(p.Count(), 3);
    qvector<int32_t> q;
    q[2] = 7;
    EXPECT_EQ(q.Count(), 3);
    EXPECT_EQ(q[0], 0);
    EXPECT_EQ(*q.At(2), 7);
    EXPECT_EQ(q.At(3), nullptr);
}
