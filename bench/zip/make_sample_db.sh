#!/usr/bin/env bash
# Makes a backup-like SQLite database of about SIZE_MIB MiB (default 1024) with realistic rows:
# customers, orders and order lines with names, addresses, amounts, dates and free text.
# Usage: make_sample_db.sh OUT.db [SIZE_MIB]
set -euo pipefail
out=$1
size_mib=${2:-1024}
rm -f "$out"
# About 185 bytes of page space per order with its lines, indexes and customer share.
orders=$(( size_mib * 1024 * 1024 / 185 ))
sqlite3 "$out" <<SQL
PRAGMA journal_mode=OFF;
PRAGMA synchronous=OFF;
PRAGMA page_size=8192;
CREATE TABLE first_names(i INTEGER PRIMARY KEY, v TEXT);
CREATE TABLE last_names(i INTEGER PRIMARY KEY, v TEXT);
CREATE TABLE cities(i INTEGER PRIMARY KEY, v TEXT, zip TEXT);
CREATE TABLE products(id INTEGER PRIMARY KEY, name TEXT, price REAL);
INSERT INTO first_names(v) VALUES ('Ayse'),('Mehmet'),('Fatma'),('Mustafa'),('Emine'),('Ahmet'),
 ('Hatice'),('Ali'),('Zeynep'),('Huseyin'),('Elif'),('Hasan'),('Maria'),('John'),('Anna'),('Peter'),
 ('Laura'),('Marco'),('Sofia'),('Lukas'),('Emma'),('Noah'),('Olivia'),('Jonas'),('Mia'),('Can');
INSERT INTO last_names(v) VALUES ('Yilmaz'),('Kaya'),('Demir'),('Sahin'),('Celik'),('Yildiz'),
 ('Yildirim'),('Ozturk'),('Aydin'),('Ozdemir'),('Arslan'),('Dogan'),('Muller'),('Schmidt'),
 ('Rossi'),('Smith'),('Johnson'),('Garcia'),('Martin'),('Bernard'),('Novak'),('Kowalski');
INSERT INTO cities(v, zip) VALUES ('Istanbul','34000'),('Ankara','06000'),('Izmir','35000'),
 ('Bursa','16000'),('Antalya','07000'),('Konya','42000'),('Berlin','10115'),('Hamburg','20095'),
 ('Wien','1010'),('Milano','20121'),('Lyon','69001'),('Madrid','28001'),('Praha','11000');
WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k+1 FROM n WHERE k < 5000)
INSERT INTO products(id, name, price)
SELECT k, 'Article ' || printf('%05d', k) || ' ' || (SELECT v FROM cities WHERE i = 1 + (n.k % 13))
       || ' grade ' || char(65 + k % 5), round(1 + (abs(random()) % 100000) / 100.0, 2) FROM n;
CREATE TABLE customers(id INTEGER PRIMARY KEY, name TEXT, email TEXT, street TEXT, city TEXT,
                       zip TEXT, phone TEXT, created TEXT, balance REAL);
WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k+1 FROM n WHERE k < $orders / 20),
  p(k, f, l, c) AS (SELECT k, 1 + (k * 7919 + k * k * 31) % 26, 1 + (k * 104729 + k * k * 17) % 22,
                           1 + (k * 1299709 + k / 7) % 13 FROM n)
INSERT INTO customers
SELECT p.k, f.v || ' ' || l.v, lower(f.v) || '.' || lower(l.v) || p.k || '@example.com',
       'Cumhuriyet Cad. No ' || (abs(random()) % 300) || ' D:' || (abs(random()) % 40),
       c.v, c.zip, '+90 5' || printf('%02d', abs(random()) % 60) || ' ' || printf('%07d', abs(random()) % 10000000),
       date('2015-01-01', '+' || (abs(random()) % 3650) || ' days'), round((random() % 1000000) / 100.0, 2)
FROM p JOIN first_names f ON f.i = p.f JOIN last_names l ON l.i = p.l JOIN cities c ON c.i = p.c;
CREATE TABLE orders(id INTEGER PRIMARY KEY, customer_id INTEGER, ordered TEXT, status TEXT,
                    total REAL, note TEXT);
CREATE TABLE order_lines(order_id INTEGER, line INTEGER, product_id INTEGER, quantity INTEGER,
                         unit_price REAL, PRIMARY KEY(order_id, line));
WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k+1 FROM n WHERE k < $orders)
INSERT INTO orders
SELECT k, 1 + abs(random()) % ($orders / 20),
       datetime('2018-01-01', '+' || (abs(random()) % 200000000) || ' seconds'),
       CASE abs(random()) % 5 WHEN 0 THEN 'NEW' WHEN 1 THEN 'PAID' WHEN 2 THEN 'SHIPPED'
            WHEN 3 THEN 'DELIVERED' ELSE 'CANCELLED' END,
       round((abs(random()) % 500000) / 100.0, 2),
       CASE WHEN abs(random()) % 4 = 0 THEN 'Please deliver after ' || (8 + abs(random()) % 10)
            || ':00, call ' || printf('%07d', abs(random()) % 10000000) ELSE NULL END
FROM n;
INSERT INTO order_lines
SELECT o.id, k.line, 1 + abs(random()) % 5000, 1 + abs(random()) % 12, round((abs(random()) % 100000) / 100.0, 2)
FROM orders o JOIN (SELECT 1 AS line UNION ALL SELECT 2 UNION ALL SELECT 3) k
WHERE k.line <= 1 + o.id % 3;
CREATE INDEX orders_by_customer ON orders(customer_id, ordered);
CREATE INDEX customers_by_city ON customers(city, name);
SQL
ls -l "$out"
