# ODBC's driver manager (unixODBC) is loaded with the first connection (data/OdbcLink.cpp): only its headers
# are needed here.
