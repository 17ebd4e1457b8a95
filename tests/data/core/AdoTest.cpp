#include <gtest/gtest.h>

#include "data/OdbcLink.h"
#include "data/TagAdoData.h"

using namespace zz;
using Kind = TagAdoData::Kind;

TEST(AdoStatement, FirstWordChoosesQueryExecuteOrProcedure) {
    EXPECT_EQ(TagAdoData::Classify("select * from t"), Kind::Query);
    EXPECT_EQ(TagAdoData::Classify("SeLeCt 1"), Kind::Query);
    EXPECT_EQ(TagAdoData::Classify("SELECT\t1"), Kind::Proc); // the verb must be followed by a blank
    EXPECT_EQ(TagAdoData::Classify("select*from t"), Kind::Proc);
    EXPECT_EQ(TagAdoData::Classify("select"), Kind::Proc);
    for (const char* s : {"update t set a=1", "Delete from t", "insert into t values(1)", "create table x(a int)",
                          "drop table x", "alter table x add b int", "use db", "set names gbk"})
        EXPECT_EQ(TagAdoData::Classify(s), Kind::Execute) << s;
    EXPECT_EQ(TagAdoData::Classify("replace into t values(1)"), Kind::Proc);
    EXPECT_EQ(TagAdoData::Classify("GetUser 1"), Kind::Proc);
}

TEST(AdoStatement, ProcedureCallsSplitIntoNameAndTextArguments) {
    std::string name;
    std::vector<std::string> args;
    TagAdoData::SplitProc("exec GetUser 'abc', 12", name, args);
    EXPECT_EQ(name, "GetUser");
    EXPECT_EQ(args, (std::vector<std::string>{"abc", "12"}));
    TagAdoData::SplitProc("GetUser 'a,b'", name, args);
    EXPECT_EQ(name, "GetUser");
    EXPECT_EQ(args, (std::vector<std::string>{"a,b"}));
    TagAdoData::SplitProc("exec p", name, args);
    EXPECT_EQ(name, "p");
    EXPECT_TRUE(args.empty());
    TagAdoData::SplitProc("p", name, args);
    EXPECT_EQ(name, "p");
    EXPECT_TRUE(args.empty());
    TagAdoData::SplitProc("EXEC p 1, 'x'", name, args);
    EXPECT_EQ(args, (std::vector<std::string>{"1", "x"}));
    // Only "exec" and "EXEC" name the procedure in the second word; further words of the first piece are ignored.
    TagAdoData::SplitProc("Exec p 1", name, args);
    EXPECT_EQ(name, "Exec");
    EXPECT_EQ(args, (std::vector<std::string>{"p"}));
    TagAdoData::SplitProc("p  \t 1 2 3, ,'张三'", name, args);
    EXPECT_EQ(args, (std::vector<std::string>{"1", "", "张三"}));
    // A quoted argument loses its first and last character, whatever the last is.
    TagAdoData::SplitProc("p 'ab, 'c", name, args);
    EXPECT_EQ(args, (std::vector<std::string>{"ab, '"}));
    TagAdoData::SplitProc("p '", name, args);
    EXPECT_EQ(args, (std::vector<std::string>{""}));
}

TEST(AdoStatement, LostConnectionAndDeadlockAreRecognised) {
    auto err = [](const char* state, const char* msg) {
        OdbcError e;
        e.state = state;
        e.message = msg;
        return e;
    };
    EXPECT_TRUE(err("08S01", "Communication link failure").IsLostConnection());
    EXPECT_TRUE(err("HY000", "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist").IsLostConnection());
    EXPECT_TRUE(err("", "数据库连接失败").IsLostConnection());
    // The words count with their capitals, as ADO's texts have them; SQLSTATE classes decide the rest.
    EXPECT_FALSE(err("42S02", "no such table: connections").IsLostConnection());
    EXPECT_FALSE(err("HY000", "can't connect").IsLostConnection());
    EXPECT_TRUE(err("40001", "Deadlock found when trying to get lock").IsDeadlock());
    EXPECT_TRUE(err("HY000", "Lock request time out period exceeded").IsDeadlock());
    EXPECT_TRUE(err("", "发生死锁").IsDeadlock());
    EXPECT_FALSE(err("HY000", "database is locked").IsDeadlock());
    // A capital after a double-byte lead is that character's second byte, not a word.
    EXPECT_FALSE(err("HY000", "\x81Lock").IsDeadlock());
    EXPECT_FALSE(err("42000", "syntax error").IsDeadlock());
}

TEST(AdoStatement, ConnectionsAskForGbk) {
    EXPECT_EQ(WithGbkCharset("DSN=x;"), "DSN=x;CHARSET=gbk");
    EXPECT_EQ(WithGbkCharset(""), "CHARSET=gbk");
    EXPECT_EQ(WithGbkCharset("DRIVER={a;b};charset=utf8mb4"), "DRIVER={a;b};charset=utf8mb4");
}
